// Node has a fetch of its own, which takes no file path: with it the loader
// would fetch the module by path and fail. Without it, it reads the file.
var fetch = undefined;

// Node's crypto global loads its web crypto when first touched, a few
// milliseconds of every run, and the runtime touches it only to see that it is
// there (for /dev/random, which the renderer never reads). This stands in for
// it and loads the real one only if a random byte is ever asked for.
var crypto = { getRandomValues: (array) => globalThis.crypto.getRandomValues(array) };
