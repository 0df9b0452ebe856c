// The sound of the pages and of the npm package, made on the audio rendering
// thread: the player (tinsel-player.wasm, handed over once as bytes, since a
// worklet cannot fetch) renders 20 ms blocks of 16-bit stereo, the same blocks
// as the desktop ring, and each 128-frame quantum is taken from them. Nothing
// here waits for the page's main thread, so a busy page does not break the
// sound.
//
// Messages in: {renderer: bytes}, {song: bytes, repeat, autoplay, settings},
// {play, answer}, {pause}, {seek: [order, row]}, {seekFrame}, {stop}, {repeat},
// {muted: [channel, muted]}, {settings: {separation, tempo, pitch}},
// {subsong}, {pattern: index}. Out: {pattern: {index, rows, text}} for the last, {loaded: {...}} or {refused: {...}} once per song, and
// {status: {...}} after every block while a song plays, with the context
// frame its first frame is played at and the epoch of the last command that
// carried one (a load or a seek), so that the page can drop older reports.
import { playerImports } from './tinsel-host.js';

class TinselProcessor extends AudioWorkletProcessor {
  constructor() {
    super();
    this.player = null; // the module's exports
    this.loaded = false;
    this.playing = false;
    this.paused = false;
    this.block = null; // the block being played, 16-bit stereo
    this.at = 0; // its next frame
    this.frames = 0; // frames sent out while playing, for the page's clock
    this.peak = 0; // the loudest value since the last report
    this.settings = {};
    this.epoch = 0; // the page's count of loads and seeks, sent back with each report
    this.port.onmessage = (event) => this.command(event.data);
  }

  command(message) {
    const p = this.player;
    if ('epoch' in message) this.epoch = message.epoch;
    if (message.renderer) {
      let memory = null;
      const instance = new WebAssembly.Instance(new WebAssembly.Module(message.renderer), playerImports(() => memory));
      memory = instance.exports.memory;
      instance.exports._initialize();
      this.player = instance.exports;
    } else if (message.song) {
      this.load(message.song, message.repeat || 0, message.autoplay);
    } else if ('play' in message) {
      this.playing = this.loaded;
      if (message.answer) this.port.postMessage({ playing: true });
    } else if ('pause' in message) {
      if (this.loaded) p.tinsel_pause(message.pause ? 1 : 0);
      this.paused = !!message.pause;
    } else if (message.seek) {
      // The blocks already made are dropped: the new place is heard at once.
      if (this.loaded && p.tinsel_seek(message.seek[0], message.seek[1])) this.block = null;
    } else if ('seekFrame' in message) {
      if (this.loaded && p.tinsel_seek_frame(message.seekFrame)) this.block = null;
    } else if ('stop' in message) {
      this.playing = false;
      this.block = null;
    } else if ('repeat' in message) {
      if (this.loaded) p.tinsel_set_repeat(message.repeat);
    } else if (message.muted) {
      if (this.loaded) p.tinsel_set_muted(message.muted[0], message.muted[1] ? 1 : 0);
    } else if (message.settings) {
      Object.assign(this.settings, message.settings);
      if (this.loaded) this.apply();
    } else if ('pattern' in message) {
      // One pattern's text when the page asks: a whole song's could be large.
      const index = message.pattern;
      const text = this.loaded ? this.text(p.tinsel_pattern_text(index)) : '';
      this.port.postMessage({ pattern: { index, rows: this.loaded ? p.tinsel_pattern_rows(index) : 0, text } });
    } else if ('subsong' in message) {
      if (this.loaded && p.tinsel_select_subsong(message.subsong)) this.block = null;
    }
  }

  // The sound settings, kept from song to song.
  apply() {
    const p = this.player, s = this.settings;
    if (s.separation !== undefined) p.tinsel_set_separation(s.separation);
    if (s.tempo !== undefined) p.tinsel_set_tempo(s.tempo);
    if (s.pitch !== undefined) p.tinsel_set_pitch(s.pitch);
  }

  text(pointer) {
    const bytes = new Uint8Array(this.player.memory.buffer, pointer);
    let end = 0;
    while (bytes[end]) ++end;
    // In pieces: a worklet has no TextDecoder, and an argument list has a limit.
    let text = '';
    for (let i = 0; i < end; i += 8192) text += String.fromCharCode.apply(null, bytes.subarray(i, Math.min(end, i + 8192)));
    return text;
  }

  load(song, repeat, autoplay) {
    const p = this.player;
    this.playing = false;
    this.loaded = false;
    this.block = null;
    this.frames = 0;
    this.paused = false;
    const room = p.tinsel_image(song.byteLength);
    new Uint8Array(p.memory.buffer, room, song.byteLength).set(new Uint8Array(song));
    const result = p.tinsel_load(sampleRate, repeat);
    if (result !== 0) {
      this.port.postMessage({ refused: { notXm: result === 1, reason: this.text(p.tinsel_error()) } });
      return;
    }
    this.apply();
    this.loaded = true;
    this.playing = !!autoplay;
    this.port.postMessage({ loaded: this.facts() });
  }

  // What the page shows of a song: its names, counts and patterns as text.
  facts() {
    const p = this.player;
    const instruments = [];
    for (let i = 0; i < p.tinsel_instrument_count(); ++i) instruments.push(this.text(p.tinsel_instrument_name(i)));
    const orders = p.tinsel_orders(), orderPatterns = [];
    for (let i = 0; i < orders; ++i) orderPatterns.push(p.tinsel_order_pattern(i));
    const subsongs = [];
    const count = p.tinsel_subsong_count();
    for (let i = 0; i < count; ++i)
      subsongs.push({ startOrder: p.tinsel_subsong_order(i), length: p.tinsel_subsong_length(i) / sampleRate });
    return {
      title: this.text(p.tinsel_title()), tracker: this.text(p.tinsel_tracker()), format: this.text(p.tinsel_format()),
      channels: p.tinsel_channel_count(), orders, length: p.tinsel_length() / sampleRate, rate: sampleRate,
      instruments, orderPatterns, patternCount: p.tinsel_pattern_count(), cellWidth: p.tinsel_cell_width(), subsongs,
    };
  }

  process(inputs, outputs) {
    const output = outputs[0];
    if (!this.playing || output.length < 2) return true;
    const left = output[0], right = output[1];
    let peak = 0;
    for (let i = 0; i < left.length; ++i) {
      if (this.block === null || this.at * 2 >= this.block.length) this.next(currentFrame + i);
      const l = this.block[2 * this.at], r = this.block[2 * this.at + 1];
      ++this.at;
      left[i] = l / 32768;
      right[i] = r / 32768;
      peak = Math.max(peak, Math.abs(l), Math.abs(r));
    }
    this.frames += left.length;
    this.peak = Math.max(this.peak, peak);
    return true;
  }

  // Renders the next block, to be heard from context frame at, and tells the
  // page where the song was at its start, where its rows start and what its
  // channels do.
  next(at) {
    const p = this.player;
    const frames = p.tinsel_block_length();
    // Copies: a later seek may grow the module's memory under a view.
    this.block = new Int16Array(p.memory.buffer, p.tinsel_render(), 2 * frames).slice();
    this.at = 0;
    const position = new Int32Array(p.memory.buffer, p.tinsel_position(), 8);
    const count = new Int32Array(p.memory.buffer, p.tinsel_marks(), 1)[0];
    const marks = new Int32Array(p.memory.buffer, p.tinsel_marks() + 4, 4 * count).slice();
    const channels = new Float32Array(p.memory.buffer, p.tinsel_channel_states(), 6 * p.tinsel_channel_count()).slice();
    this.port.postMessage({ status: {
      order: position[0], pattern: position[1], row: position[2], speed: position[3], bpm: position[4],
      frame: position[5] + position[6] * 4294967296, rendered: position[7], ended: p.tinsel_ended() === 1,
      paused: this.paused, played: this.frames, level: this.peak / 32768, time: currentTime, at, marks, channels,
      subsong: p.tinsel_current_subsong(), epoch: this.epoch } });
    this.peak = 0;
  }
}

registerProcessor('tinsel-player', TinselProcessor);
