// Node has a fetch of its own, which takes no file path: with it the loader
// would fetch the module by path and fail. Without it, it reads the file.
var fetch = undefined;
