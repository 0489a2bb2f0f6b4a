// The save as users meet it under real failures: the built tool killed or failed at chosen system
// calls, full disks, size limits, links, permissions and concurrent replacement of the file.
