// tinsel-player: module music (XM and MOD) for pages and for Node. The player
// is a WebAssembly module of its own (tinsel-player.wasm); in a page it runs
// in an audio worklet (tinsel-worklet.js), off the main thread, and both are
// found beside this file, as is tinsel-host.js, which both this file and the
// worklet import.
import { playerImports } from './tinsel-host.js';

const here = import.meta.url;
const isNode = typeof process !== 'undefined' && !!(process.versions && process.versions.node);

let playerBytes = null; // the module's bytes, fetched once
let compiled = null; // and compiled once, for renderSong on this thread

async function fetchBytes(name) {
  const url = new URL(name, here);
  if (isNode && url.protocol === 'file:') {
    const [{ readFile }, { fileURLToPath }] = await Promise.all([import('node:fs/promises'), import('node:url')]);
    const bytes = await readFile(fileURLToPath(url));
    return bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

function rendererBytes() {
  if (!playerBytes) {
    playerBytes = fetchBytes('tinsel-player.wasm');
    playerBytes.catch(() => { playerBytes = null; }); // a later try fetches again
  }
  return playerBytes;
}

function imageOf(bytes) {
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError('a song is an ArrayBuffer or a Uint8Array');
}

// The player's reason for a file it does not play; it is worded to follow the
// file's name, which the caller knows and the player does not.
function refusal(reason, notModule) {
  const error = new Error(reason.trim());
  error.notModule = notModule;
  return error;
}

// The player module on this thread, for renderSong.
async function instantiate() {
  let memory = null;
  if (!compiled) {
    compiled = rendererBytes().then((bytes) => WebAssembly.compile(bytes));
    compiled.catch(() => { compiled = null; });
  }
  const instance = await WebAssembly.instantiate(await compiled, playerImports(() => memory));
  memory = instance.exports.memory;
  instance.exports._initialize();
  return instance.exports;
}

function text(p, pointer) {
  const bytes = new Uint8Array(p.memory.buffer, pointer);
  return new TextDecoder('latin1').decode(bytes.subarray(0, bytes.indexOf(0)));
}

function checkRange(name, value, low, high) {
  if (typeof value !== 'number' || !(value >= low && value <= high))
    throw new RangeError(`${name} is ${low} to ${high}, not ${value}`);
  return value;
}

/**
 * Renders a song offline to interleaved stereo, as tinsel-render does: the
 * same 16-bit samples for the same song and options.
 */
export async function renderSong(bytes, options = {}) {
  const image = imageOf(bytes);
  const rate = options.rate ?? 44100;
  checkRange('rate', rate, 8000, 192000);
  const p = await instantiate();
  const room = p.tinsel_image(image.byteLength);
  new Uint8Array(p.memory.buffer, room, image.byteLength).set(image);
  const passes = options.repeatCount ?? 1;
  const result = p.tinsel_load(rate, passes);
  if (result !== 0) throw refusal(text(p, p.tinsel_error()), result === 1);
  if (options.subsong !== undefined && !p.tinsel_select_subsong(options.subsong))
    throw new RangeError(`the song has no subsong ${options.subsong}`);
  if (options.stereoSeparation !== undefined)
    p.tinsel_set_separation(checkRange('stereoSeparation', options.stereoSeparation, 0, 200));
  if (options.tempo !== undefined) p.tinsel_set_tempo(checkRange('tempo', options.tempo, 0.25, 4));
  if (options.pitch !== undefined) p.tinsel_set_pitch(checkRange('pitch', options.pitch, 0.25, 4));
  const asFloat = options.format === 'f32';
  if (options.format !== undefined && !asFloat && options.format !== 's16')
    throw new RangeError(`format is 's16' or 'f32', not ${options.format}`);
  const at = p.tinsel_render_song(passes, options.seconds ?? 0, asFloat ? 1 : 0);
  if (!at) throw new Error('the song does not render');
  const samples = 2 * p.tinsel_rendered_frames();
  return asFloat ? new Float32Array(p.memory.buffer, at, samples).slice()
                 : new Int16Array(p.memory.buffer, at, samples).slice();
}

const worklets = new WeakMap(); // context -> the worklet module's promise

/** A song playing in an AudioContext, through an audio worklet. */
export class TinselPlayer extends EventTarget {
  static async create(context, options = {}) {
    if (!context || !context.audioWorklet || typeof AudioWorkletNode === 'undefined')
      throw new Error('this browser has no audio worklets');
    if (!worklets.has(context)) worklets.set(context, context.audioWorklet.addModule(new URL('tinsel-worklet.js', here)));
    const [bytes] = await Promise.all([rendererBytes(), worklets.get(context)]);
    const node = new AudioWorkletNode(context, 'tinsel-player',
                                      { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2] });
    node.port.postMessage({ renderer: bytes });
    node.connect(options.destination || context.destination);
    return new TinselPlayer(context, node);
  }

  constructor(context, node) {
    super();
    this.context = context;
    /** The AudioNode the player sounds through. */
    this.node = node;
    this.song = null; // SongInfo with the patterns, or null
    this._pending = null;
    this._reports = []; // the worklet's reports, oldest first, not all heard yet
    this._heard = null; // the report heard last
    this._row = null;
    this._ended = false;
    this._repeat = 1;
    this._settings = { separation: 100, tempo: 1, pitch: 1 };
    this._muted = [];
    this._timer = null;
    this._patterns = new Map(); // index -> {promise, resolve}: the loaded song's patterns asked for
    this._epoch = 0; // counts the loads and seeks: reports from before the last are dropped
    this._started = []; // play()'s promises, answered by the worklet in order
    node.port.onmessage = (event) => this._message(event.data);
  }

  _message(message) {
    if (message.status) {
      // The last song's, or from before a seek, still on their way.
      if (this._pending || message.status.epoch !== this._epoch) return;
      this._reports.push(message.status);
      this._tick();
    } else if (message.pattern) {
      const waiting = this._patterns.get(message.pattern.index);
      if (waiting && waiting.resolve) {
        waiting.resolve({ rows: message.pattern.rows, text: message.pattern.text });
        waiting.resolve = null;
      }
    } else if (message.playing) {
      const started = this._started.shift();
      if (started) started();
    } else if (this._pending) {
      const pending = this._pending;
      this._pending = null;
      if (message.loaded) pending.resolve(message.loaded);
      else pending.reject(refusal(message.refused.reason, message.refused.notXm));
    }
  }

  /** Loads a song (an ArrayBuffer or a Uint8Array): its facts, or the player's reason it does not play. */
  async load(bytes) {
    const image = imageOf(bytes).slice();
    if (this._pending) this._pending.reject(new Error('another song was loaded'));
    const loaded = new Promise((resolve, reject) => { this._pending = { resolve, reject }; });
    this._reports = [];
    this._heard = null;
    this._row = null;
    this._ended = false;
    this._muted = [];
    this._patterns = new Map();
    this.node.port.postMessage({ song: image.buffer, repeat: this._repeat, epoch: ++this._epoch }, [image.buffer]);
    let facts;
    try {
      facts = await loaded;
    } catch (error) {
      this.song = null;
      throw error;
    }
    this.song = facts;
    this._muted = new Array(facts.channels).fill(false);
    this._rate = facts.rate;
    return {
      title: facts.title, tracker: facts.tracker, format: facts.format, channels: facts.channels,
      orders: facts.orders, length: facts.length, subsongs: facts.subsongs.map((s) => ({ ...s })),
      instruments: facts.instruments.slice(),
    };
  }

  /** Resolves once the worklet plays (as a media element's play does). */
  play() {
    if (!this.song) return Promise.resolve();
    if (this._ended) this.seek(0);
    // An offline context starts with its rendering, not here.
    const offline = typeof OfflineAudioContext !== 'undefined' && this.context instanceof OfflineAudioContext;
    if (this.context.state === 'suspended' && !offline) this.context.resume().catch(() => {});
    this.node.port.postMessage({ pause: false });
    const started = new Promise((resolve) => { this._started.push(resolve); });
    this.node.port.postMessage({ play: true, answer: true });
    this._paused = false;
    if (!this._timer) this._timer = setInterval(() => this._tick(), 15);
    return started;
  }

  pause() {
    this._paused = true;
    this.node.port.postMessage({ pause: true });
  }

  get paused() { return !this.song || this._paused !== false; }

  /**
   * A pattern of the loaded song in tracker notation: its rows one after
   * another, each the channels' cells of song.cellWidth characters.
   */
  pattern(index) {
    if (!this.song || !(index >= 0 && index < this.song.patternCount))
      return Promise.reject(new RangeError(`no pattern ${index}`));
    let entry = this._patterns.get(index);
    if (!entry) {
      entry = {};
      entry.promise = new Promise((resolve) => { entry.resolve = resolve; });
      this._patterns.set(index, entry);
      this.node.port.postMessage({ pattern: index });
    }
    return entry.promise;
  }

  /** Plays on from the row playing seconds into the song. */
  seek(seconds) {
    if (!this.song) return;
    this._ended = false;
    this._reports = [];
    this.node.port.postMessage({ seekFrame: Math.max(0, Math.round(seconds * this._rate)), epoch: ++this._epoch });
  }

  /** Plays on from the start of row at order (an addition for pages with order lists). */
  seekOrder(order, row = 0) {
    if (!this.song || order < 0 || order >= this.song.orders) return;
    this._ended = false;
    this._reports = [];
    this.node.port.postMessage({ seek: [order, row], epoch: ++this._epoch });
  }

  selectSubsong(index) {
    if (!this.song || !(index >= 0 && index < this.song.subsongs.length)) throw new RangeError(`no subsong ${index}`);
    this._ended = false;
    this._reports = [];
    this.node.port.postMessage({ subsong: index, epoch: ++this._epoch });
  }

  get stereoSeparation() { return this._settings.separation; }
  set stereoSeparation(percent) { this._set('separation', checkRange('stereoSeparation', percent, 0, 200)); }
  get tempo() { return this._settings.tempo; }
  set tempo(factor) { this._set('tempo', checkRange('tempo', factor, 0.25, 4)); }
  get pitch() { return this._settings.pitch; }
  set pitch(factor) { this._set('pitch', checkRange('pitch', factor, 0.25, 4)); }
  _set(name, value) {
    this._settings[name] = value;
    this.node.port.postMessage({ settings: { [name]: value } });
  }

  /** Passes through the song before it ends; 0 plays it forever. */
  get repeatCount() { return this._repeat; }
  set repeatCount(count) {
    this._repeat = checkRange('repeatCount', count, 0, 1e6) | 0;
    this.node.port.postMessage({ repeat: this._repeat });
  }

  setChannelMuted(channel, muted) {
    if (!this.song || !(channel >= 0 && channel < this.song.channels)) return;
    this._muted[channel] = !!muted;
    this.node.port.postMessage({ muted: [channel, !!muted] });
  }

  isChannelMuted(channel) { return !!this._muted[channel]; }

  // The context frame being heard now.
  _heardFrame() {
    const context = this.context;
    let time = context.currentTime - (context.outputLatency || context.baseLatency || 0);
    if (context.getOutputTimestamp) {
      const stamp = context.getOutputTimestamp();
      if (stamp.contextTime > 0 && typeof performance !== 'undefined')
        time = stamp.contextTime + Math.max(0, performance.now() - stamp.performanceTime) / 1000;
    }
    return time * context.sampleRate;
  }

  // The report of the block being heard: the ones before it are dropped.
  _current() {
    const now = this._heardFrame();
    const reports = this._reports;
    let i = 0;
    while (i + 1 < reports.length && reports[i + 1].at <= now) ++i;
    if (reports.length && reports[0].at <= now) {
      this._heard = reports[i];
      reports.splice(0, i + 1);
    }
    return { report: this._heard, now };
  }

  /** Where the song is as heard: order, pattern, row and seconds. */
  get position() {
    const { report, now } = this._current();
    if (!report) return { order: 0, pattern: 0, row: 0, seconds: 0 };
    const into = Math.max(0, Math.min(now - report.at, report.rendered));
    const marks = report.marks;
    let m = 0;
    while (m + 4 < marks.length && marks[m + 4] <= into) m += 4;
    return { order: marks[m + 1], pattern: marks[m + 2], row: marks[m + 3], seconds: (report.frame + into) / this._rate };
  }

  /** The channels as heard: note, instrument, volume, panning and levels. */
  get channels() {
    const { report } = this._current();
    const count = this.song ? this.song.channels : 0;
    const states = report ? report.channels : null;
    const channels = [];
    for (let i = 0; i < count; ++i) {
      const s = states && states.length >= 6 * (i + 1) ? states.subarray(6 * i, 6 * i + 6) : [0, 0, 0, 0, 0, 0];
      channels.push({ note: s[0], instrument: s[1], volume: s[2], panning: s[3], levelLeft: s[4], levelRight: s[5] });
    }
    return channels;
  }

  /** The number of the subsong heard. */
  get subsong() {
    const { report } = this._current();
    return report ? report.subsong : 0;
  }

  // Events, when the heard row changes and when the end is heard.
  _tick() {
    if (!this.song) return;
    const position = this.position;
    const key = position.order * 1024 + position.row;
    if (this._heard && key !== this._row) {
      this._row = key;
      this.dispatchEvent(Object.assign(new Event('position'), { position }));
    }
    const report = this._heard;
    if (report && report.ended && report.epoch === this._epoch && !this._ended && this._heardFrame() >= report.at + report.rendered) {
      this._ended = true;
      this.dispatchEvent(new Event('ended'));
    }
  }

  /** Stops the sound and lets the node go. */
  close() {
    clearInterval(this._timer);
    this._timer = null;
    this.node.port.postMessage({ stop: true });
    this.node.disconnect();
    this.song = null;
  }
}
