// The pages' side of their sound (the demo's and the module player's): an
// AudioWorkletNode whose processor (tinsel-worklet.js) runs the player itself,
// fed once with the player module and once with each song. Everything here
// only sends commands and hears the worklet's reports; no sample passes the
// page's main thread.
'use strict';
window.TinselSound = (function () {
  let renderer = null;

  // The player module's bytes, fetched once for every context.
  function rendererBytes() {
    if (!renderer) {
      renderer = fetch('tinsel-player.wasm').then(function (response) {
        if (!response.ok) throw new Error('tinsel-player.wasm: ' + response.status);
        return response.arrayBuffer();
      });
      renderer.catch(function () { renderer = null; }); // a later try fetches again
    }
    return renderer;
  }

  const modules = new WeakMap(); // context -> the worklet module's promise

  function Sound(node) {
    this.node = node;
    this.onstatus = null;
    this.pending = null; // the load waiting for its answer
    const sound = this;
    node.port.onmessage = function (event) {
      const message = event.data;
      if (message.status) {
        if (sound.onstatus) sound.onstatus(message.status);
      } else if (sound.pending) {
        const pending = sound.pending;
        sound.pending = null;
        if (message.loaded) pending.resolve(message.loaded);
        else pending.reject(message.refused);
      }
    };
  }

  // Hands the worklet an XM image (an ArrayBuffer): resolves with the song's
  // title, orders, length in frames, rate and row starts ([frame, order, row]
  // flat), or rejects with {notXm, reason}. repeat: passes before the song
  // ends (0 forever); autoplay starts it at once.
  Sound.prototype.load = function (image, options) {
    const sound = this;
    options = options || {};
    if (sound.pending) sound.pending.reject({ notXm: false, reason: 'another song was loaded' });
    return new Promise(function (resolve, reject) {
      sound.pending = { resolve: resolve, reject: reject };
      sound.node.port.postMessage({ song: image, repeat: options.repeat || 0, autoplay: !!options.autoplay });
    });
  };
  Sound.prototype.play = function () { this.node.port.postMessage({ play: true }); };
  Sound.prototype.pause = function (paused) { this.node.port.postMessage({ pause: !!paused }); };
  Sound.prototype.seek = function (order, row) { this.node.port.postMessage({ seek: [order, row] }); };
  Sound.prototype.stop = function () { this.node.port.postMessage({ stop: true }); };

  // A player node on context (an AudioContext or an OfflineAudioContext),
  // connected to its destination.
  async function attach(context) {
    if (!context.audioWorklet || typeof AudioWorkletNode === 'undefined')
      throw new Error('this browser has no audio worklets');
    if (!modules.has(context)) modules.set(context, context.audioWorklet.addModule('tinsel-worklet.js'));
    const parts = await Promise.all([rendererBytes(), modules.get(context)]);
    const node = new AudioWorkletNode(context, 'tinsel-player',
                                      { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2] });
    node.port.postMessage({ renderer: parts[0] });
    node.connect(context.destination);
    return new Sound(node);
  }

  return { attach: attach, prefetch: rendererBytes };
})();
