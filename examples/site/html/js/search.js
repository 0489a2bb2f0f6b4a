function search(term) { return document.body.innerText.includes(term); }
