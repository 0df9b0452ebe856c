// Types of tinsel-player: module music (XM and MOD) for pages and for Node.

/** A stretch of the order list that plays as a song of its own. */
export interface Subsong {
  /** The order it starts at. */
  startOrder: number;
  /** Its length in seconds, played once. */
  length: number;
}

/** What a loaded song is. */
export interface SongInfo {
  title: string;
  /** The tracker that saved it, as the file names it. */
  tracker: string;
  /** The file's format, e.g. "FastTracker II XM 1.04, 8 channels". */
  format: string;
  channels: number;
  /** Entries of the order list. */
  orders: number;
  /** Seconds of its first pass. */
  length: number;
  subsongs: Subsong[];
  /** The instruments' names, the first instrument's first. */
  instruments: string[];
}

/** Where a song is, as heard. */
export interface Position {
  order: number;
  pattern: number;
  row: number;
  seconds: number;
}

/** A channel as heard. */
export interface ChannelState {
  /** 1..96 (C-0 is 1) while a note sounds; 0 without one. */
  note: number;
  instrument: number;
  /** 0..64 */
  volume: number;
  /** 0..255, 128 the middle */
  panning: number;
  /** What the channel adds to each side, 0..1. */
  levelLeft: number;
  levelRight: number;
}

/** A pattern in tracker notation: rows one after another, each the channels' cells of cellWidth characters. */
export interface PatternText {
  rows: number;
  text: string;
}

/** What the player knows of the loaded song beyond SongInfo: enough to draw its patterns. */
export interface LoadedSong extends SongInfo {
  /** Frames per second it plays at: the context's. */
  rate: number;
  /** The pattern each order plays. */
  orderPatterns: number[];
  patternCount: number;
  /** Characters of a cell in tracker notation ("C-4 01 v40 A0F"). */
  cellWidth: number;
}

export interface PlayerOptions {
  /** Where the player's node connects; the context's destination unless given. */
  destination?: AudioNode;
}

/** The sound settings, shared by the player and renderSong. */
export interface SoundSettings {
  /** Percent: 0 mono, 100 the song's own, 200 wider. */
  stereoSeparation?: number;
  /** Speed factor, 0.25..4. */
  tempo?: number;
  /** Pitch factor, 0.25..4. */
  pitch?: number;
  /** Passes through the song; 0 until seconds runs out. */
  repeatCount?: number;
}

export interface RenderOptions extends SoundSettings {
  /** Frames per second; 44100 unless given. */
  rate?: number;
  /** The most to render; the whole song unless given. */
  seconds?: number;
  subsong?: number;
  /** 16-bit integers (the default) or floats at 1.0 full scale. */
  format?: 's16' | 'f32';
}

export interface PositionEvent extends Event {
  readonly position: Position;
}

/** The player's reason for a file it does not play. */
export interface RefusalError extends Error {
  /** True when the file is no module at all; false when it is one that does not load. */
  notModule: boolean;
}

export class TinselPlayer extends EventTarget {
  /** A player sounding in context, through an audio worklet. */
  static create(context: BaseAudioContext, options?: PlayerOptions): Promise<TinselPlayer>;
  /** The node the player sounds through, connected to the destination. */
  readonly node: AudioWorkletNode;
  readonly context: BaseAudioContext;
  /** The loaded song, null before a load succeeds. */
  readonly song: LoadedSong | null;
  /** Rejects with a RefusalError. */
  load(bytes: ArrayBuffer | Uint8Array): Promise<SongInfo>;
  /** Resolves once the worklet plays: before an offline context's startRendering, wait for it. */
  play(): Promise<void>;
  pause(): void;
  readonly paused: boolean;
  /** Plays on from the row playing seconds into the song. */
  seek(seconds: number): void;
  /** Plays on from the start of row at order. */
  seekOrder(order: number, row?: number): void;
  selectSubsong(index: number): void;
  /** The subsong heard. */
  readonly subsong: number;
  /** Percent, 0..200. */
  stereoSeparation: number;
  /** 0.25..4 */
  tempo: number;
  /** 0.25..4 */
  pitch: number;
  /** Passes through the song before 'ended'; 0 plays forever. 1 unless set. */
  repeatCount: number;
  /** A pattern of the loaded song in tracker notation. */
  pattern(index: number): Promise<PatternText>;
  setChannelMuted(channel: number, muted: boolean): void;
  isChannelMuted(channel: number): boolean;
  readonly position: Position;
  readonly channels: ChannelState[];
  /** Stops the sound and disconnects the node. */
  close(): void;
  addEventListener(type: 'position', listener: (event: PositionEvent) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: 'ended', listener: (event: Event) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
}

/** The song rendered offline to interleaved stereo, in a page or in Node. */
export function renderSong(bytes: ArrayBuffer | Uint8Array, options?: RenderOptions & { format?: 's16' }): Promise<Int16Array>;
export function renderSong(bytes: ArrayBuffer | Uint8Array, options: RenderOptions & { format: 'f32' }): Promise<Float32Array>;
export function renderSong(bytes: ArrayBuffer | Uint8Array, options?: RenderOptions): Promise<Int16Array | Float32Array>;
