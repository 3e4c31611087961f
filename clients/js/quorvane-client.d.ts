// Types of the Quorvane host's methods and of the client module. Every method's
// parameters and result are written here once; clients/js/tools/check-types.mjs keeps this
// file, docs/methods.md and (through that file's examples) the host's real replies in step.

/** The name the installer registers the host under (runtime.connectNative). */
export const HOST_NAME: 'com.quorvane.host';
/** The largest message Chromium-based browsers accept from a host. */
export const MAX_HOST_MESSAGE_BYTES: number;

// ---- shapes shared by several methods ------------------------------------------------------

/** Integers in physical pixels of the virtual desktop, unless a method says otherwise. */
export interface Rectangle {
  height: number;
  width: number;
  x: number;
  y: number;
}

/** The same members as a Rectangle, as request parameters. */
export interface Area {
  x: number;
  y: number;
  width: number;
  height: number;
}

/**
 * An image in a request: `data` is Base64 of an encoded PNG, or of raw RGB samples
 * (3 bytes per pixel, rows top to bottom), which then need `width` and `height`.
 */
export interface ImageParam {
  data: string;
  width?: number;
  height?: number;
  /** Overrides the image's DPI (else the PNG's pHYs chunk, else 96). */
  dpiX?: number;
}

export interface SearchOptions {
  /** Lowest normalised cross-correlation score that counts as a match; default 0.8. */
  minSimilarity?: number;
  /** Also try 0.9, 0.95, 1.05 and 1.1 times the base scale. */
  allowSizeVariation?: boolean;
  /** Scale the pattern by screen DPI / pattern DPI. */
  enableHighDpi?: boolean;
  limitSearchArea?: boolean;
  searchArea?: Area;
  /** Not supported: true is answered with a green_pink_not_supported error. */
  enableGreenPinkBoxes?: boolean;
  /** Not supported: true is answered with a green_pink_not_supported error. */
  requireGreenPinkBoxes?: boolean;
}

export interface DesktopSearchOptions extends SearchOptions {
  /** Also write the capture as a PNG file; the result then names it in capturePath. */
  saveCaptureOnDisk?: boolean;
  capturePath?: string;
}

export interface SearchRegion {
  matchedRect: Rectangle;
  /** Rank in reading order (top to bottom, then left to right). */
  order: number;
  score: number;
}

/** Regions best first, at most 16. Finding nothing is not an error. */
export interface SearchResult {
  containsGreenPinkBoxes: false;
  errorCode: 0;
  regions: SearchRegion[];
}

export interface FloatRectangle {
  height: number;
  width: number;
  x: number;
  y: number;
}

export interface RelativeRegion {
  anchorRect: Rectangle;
  matchedRect: FloatRectangle;
  order: number;
  score: number;
}

export interface Monitor {
  dpi: number;
  height: number;
  id: number;
  isPrimary: boolean;
  name: string;
  physicalHeight: number;
  physicalWidth: number;
  scaleFactor: number;
  width: number;
  x: number;
  y: number;
}

export interface OcrWord {
  rect: FloatRectangle;
  text: string;
}

export interface OcrLine {
  text: string;
  words: OcrWord[];
}

/** errorCode 1: the folder could not be listed (entries is then empty). */
export interface EntryList {
  entries: string[];
  errorCode: 0 | 1;
}

/** errorCode 1: the file could not be read (content is then ""). */
export interface FileContent {
  content: string;
  errorCode: 0 | 1;
}

export type PermissionKind = 'accessibility' | 'screenRecording';

type NoParams = Record<string, never>;
type PathParam = { path: string };
type WriteParams = { path: string; content: string };
type FromTo = { sourcePath: string; targetPath: string };

// ---- the methods ------------------------------------------------------------------------------

/** Every method of the host: what it takes and what its reply's `result` holds. */
export interface QuorvaneMethods {
  get_version: { params: NoParams; result: string };

  get_display_list: { params: NoParams; result: Monitor[] };
  get_desktop_dpi: { params: NoParams; result: { dpiX: number; dpiY: number } };
  get_screen_backing_scale_factor: { params: NoParams; result: number };
  capture_desktop: { params: { path?: string }; result: string };

  get_image_info: {
    params: { content: string };
    result: {
      bitDepth: number;
      /** 1 palette, 2 grey, 3 grey with alpha, 4 RGB, 5 RGBA. */
      color: 1 | 2 | 3 | 4 | 5;
      dpiX: number;
      dpiY: number;
      format: 1;
      height: number;
      width: number;
    };
  };
  search_image: { params: { image: ImageParam; pattern: ImageParam; options?: SearchOptions }; result: SearchResult };
  search_desktop: {
    params: { pattern: ImageParam; options?: DesktopSearchOptions };
    result: SearchResult & { capturePath?: string };
  };
  search_relative: {
    params: { offset: Area; pattern: ImageParam; image?: ImageParam; options?: SearchOptions };
    result: { containsGreenPinkBoxes: false; errorCode: 0; regions: RelativeRegion[] };
  };
  wait_for_image: {
    params: { pattern: ImageParam; options?: SearchOptions; timeoutMs?: number; intervalMs?: number };
    result: SearchResult & { elapsedMs: number; found: boolean };
  };
  find_color_regions: {
    params: { color: string; tolerance?: number; minWidth?: number; minHeight?: number; searchArea?: Area };
    result: { regions: Rectangle[] };
  };
  find_rectangle: { params: { color: string }; result: Rectangle };

  ocr_image: {
    params: { content: string; path?: string; language?: string } | { path: string; language?: string };
    result: { lines: OcrLine[]; text: string };
  };
  ocr_language_list: { params: NoParams; result: string[] };

  send_text: { params: { text: string }; result: true };
  send_mouse_event: {
    /** type: 0 move, 1 down, 2 up, 3 click, 4 double, 5 Ctrl+click, 6 Shift+click, 7 triple; button: 0 left, 1 right, 2 middle. */
    params: { type: 0 | 1 | 2 | 3 | 4 | 5 | 6 | 7; button: 0 | 1 | 2; x: number; y: number };
    result: true;
  };
  send_mouse_wheel_event: { params: { deltaX: number; deltaY: number }; result: true };
  focus_browser: { params: NoParams; result: { focused: boolean } };
  get_active_browser_window_rect: { params: NoParams; result: Rectangle | null };
  get_active_browser_outer_rect: { params: NoParams; result: Rectangle | null };
  get_permission_status: { params: NoParams; result: { accessibility: true; screenRecording: true } };
  request_permission: { params: { kind: PermissionKind }; result: { granted: true; kind: PermissionKind } };
  open_permission_pane: { params: { kind: PermissionKind }; result: false };

  file_exists: { params: PathParam; result: boolean };
  directory_exists: { params: PathParam; result: boolean };
  get_file_size: { params: PathParam; result: number };
  get_files: { params: PathParam; result: EntryList };
  get_directories: { params: PathParam; result: EntryList };
  get_file_system_entries: { params: { path: string; extensions?: string[] }; result: EntryList };
  get_file_system_entry_info: {
    params: PathParam;
    /** lastWriteTime in milliseconds since 1970-01-01 UTC; length in bytes. */
    result: { isDirectory: boolean; lastWriteTime: number; length: number };
  };
  /** folder: 0 the user's profile folder, 1 the desktop. */
  get_special_folder_path: { params: { folder: 0 | 1 }; result: string };
  get_max_file_range: { params: NoParams; result: number };
  read_file_range: {
    params: { path: string; rangeStart?: number };
    /** buffer is Base64; empty at or past the end of the file. */
    result: { buffer: string; rangeEnd: number; rangeStart: number };
  };
  read_all_text: { params: PathParam; result: FileContent };
  /** content is Base64. Mind the 1 MB reply limit: read large files with readFile(). */
  read_all_bytes: { params: PathParam; result: FileContent };
  write_all_text: { params: WriteParams; result: boolean };
  /** content is Base64. */
  write_all_bytes: { params: WriteParams; result: boolean };
  append_all_text: { params: WriteParams; result: boolean };
  /** content is Base64. */
  append_all_bytes: { params: WriteParams; result: boolean };
  copy_file: { params: FromTo; result: boolean };
  move_file: { params: FromTo; result: boolean };
  delete_file: { params: PathParam; result: boolean };
  create_directory: { params: PathParam; result: boolean };
  remove_directory: { params: PathParam; result: boolean };
  run_process: {
    params: { fileName: string; arguments?: string; waitForExit?: boolean };
    result:
      | { exitCode: null }
      | { exitCode: number; outputTruncated: boolean; stderr: string; stdout: string };
  };
}

export type QuorvaneMethod = keyof QuorvaneMethods;
export type ParamsOf<M extends QuorvaneMethod> = QuorvaneMethods[M]['params'];
export type ResultOf<M extends QuorvaneMethod> = QuorvaneMethods[M]['result'];

// ---- the client -------------------------------------------------------------------------------

/** An error reply. `code` is the message's leading lower-case code, or null. */
export class QuorvaneError extends Error {
  constructor(message: string, details?: { method?: string | null; id?: number | null });
  readonly code: string | null;
  readonly method: string | null;
  readonly id: number | null;
}

/** The port closed while the request waited; `message` is the browser's reason when it gave one. */
export class QuorvaneDisconnectedError extends Error {
  constructor(message: string, details?: { method?: string | null; id?: number | null });
  readonly method: string | null;
  readonly id: number | null;
}

export class QuorvaneTimeoutError extends Error {
  constructor(message: string, details?: { method?: string | null; id?: number | null });
  readonly method: string | null;
  readonly id: number | null;
}

/** The leading lower-case code of an error message ("bad_params"), or null. */
export function errorCode(message: unknown): string | null;

/** What the client needs of a runtime.Port (a test double can provide it). */
export interface PortLike {
  postMessage(message: unknown): void;
  disconnect(): void;
  onMessage: { addListener(listener: (message: any) => void): void };
  onDisconnect: { addListener(listener: (port: any) => void): void };
}

export interface ClientOptions {
  /** Opens the port; default runtime.connectNative(HOST_NAME). */
  connect?: () => PortLike;
  /** Reads why the port closed; default the port's error or runtime.lastError. */
  disconnectReason?: (port: PortLike) => string | null;
}

export interface CallOptions {
  /** Reject with QuorvaneTimeoutError after this many milliseconds; 0 waits for ever. */
  timeoutMs?: number;
}

/** Parameters may be left out only where the method has no required one. */
type CallArgs<M extends QuorvaneMethod> = {} extends ParamsOf<M>
  ? [params?: ParamsOf<M>, options?: CallOptions]
  : [params: ParamsOf<M>, options?: CallOptions];

export class QuorvaneClient {
  constructor(options?: ClientOptions);
  readonly connected: boolean;
  readonly pendingCount: number;
  /**
   * Sends one request. Resolves with its result; rejects with QuorvaneError for an error
   * reply, QuorvaneDisconnectedError when the port closes first, QuorvaneTimeoutError.
   */
  call<M extends QuorvaneMethod>(method: M, ...args: CallArgs<M>): Promise<ResultOf<M>>;
  /** Closes the port; the next call starts a new host. */
  close(): void;
}

/** Reads a whole file in ranges of at most 512 KiB, so no reply nears the 1 MB limit. */
export function readFile(
  client: QuorvaneClient,
  path: string,
  options?: { onRange?: ((range: { rangeStart: number; rangeEnd: number }) => void) | null },
): Promise<Uint8Array>;

export function bytesToBase64(bytes: Uint8Array | ArrayLike<number>): string;
/** Accepts only canonical Base64; throws TypeError otherwise. */
export function base64ToBytes(text: string): Uint8Array;
