// The few host calls the player module (tinsel-player.wasm) makes, answered
// alike in the audio worklet and on a page's or Node's own thread: memory
// growth notices, an empty environment, and output that is thrown away.
// memory() gives the module's memory, known once it is instantiated.
export function playerImports(memory) {
  const wasi = {
    proc_exit: (code) => { throw new Error('the player exited with ' + code); },
    fd_write: (fd, iovs, count, written) => { new DataView(memory().buffer).setUint32(written, 0, true); return 0; },
    fd_close: () => 0,
    fd_seek: () => 0,
    environ_sizes_get: (count, size) => {
      const view = new DataView(memory().buffer);
      view.setUint32(count, 0, true);
      view.setUint32(size, 0, true);
      return 0;
    },
    environ_get: () => 0,
  };
  return { env: { emscripten_notify_memory_growth: () => {} }, wasi_snapshot_preview1: wasi };
}
