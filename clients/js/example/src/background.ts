// What an extension author writes: every call is checked against the host's methods.
import {
  QuorvaneClient,
  QuorvaneError,
  bytesToBase64,
  readFile,
  type ImageParam,
  type ResultOf,
} from 'quorvane-client';

const host = new QuorvaneClient();

export async function clickWhenVisible(button: ImageParam): Promise<boolean> {
  const found = await host.call('wait_for_image', { pattern: button, timeoutMs: 5000, options: { minSimilarity: 0.9 } });
  if (!found.found) return false;
  const best = found.regions[0].matchedRect;
  await host.call('send_mouse_event', { type: 3, button: 0, x: best.x + best.width / 2, y: best.y + best.height / 2 });
  return true;
}

export async function describeScreens(): Promise<string> {
  const monitors: ResultOf<'get_display_list'> = await host.call('get_display_list');
  return monitors.map((m) => `${m.name}: ${m.width}x${m.height} at ${m.scaleFactor * 100}%`).join('\n');
}

export async function saveNote(path: string, text: string): Promise<void> {
  if (!(await host.call('write_all_text', { path, content: text }))) throw new Error(`cannot write ${path}`);
  const bytes = await readFile(host, path);
  await host.call('write_all_bytes', { path: `${path}.copy`, content: bytesToBase64(bytes) });
}

export async function runTool(): Promise<string> {
  const run = await host.call('run_process', { fileName: 'cmd.exe', arguments: '/c ver', waitForExit: true });
  return run.exitCode === null ? '' : run.stdout;
}

export async function version(): Promise<string> {
  try {
    return await host.call('get_version', {}, { timeoutMs: 2000 });
  } catch (error) {
    if (error instanceof QuorvaneError && error.code === 'bad_params') return 'bad request';
    throw error;
  }
}
