// Mistakes the declarations must catch: each line below is a type error, and tsc fails
// when one of them stops being one (@ts-expect-error then has nothing to expect).
import { QuorvaneClient } from 'quorvane-client';

const host = new QuorvaneClient();

export async function mistakes(): Promise<void> {
  // @ts-expect-error an unknown method
  await host.call('search_screen', {});
  // @ts-expect-error a required parameter left out
  await host.call('read_file_range', {});
  // @ts-expect-error parameters required, none given
  await host.call('file_exists');
  // @ts-expect-error a parameter of the wrong type
  await host.call('read_file_range', { path: 'C:\\a.txt', rangeStart: '0' });
  // @ts-expect-error a misspelt option
  await host.call('search_image', { image: { data: '' }, pattern: { data: '' }, options: { minSimilarty: 0.5 } });
  // @ts-expect-error a mouse event type the host does not have
  await host.call('send_mouse_event', { type: 9, button: 0, x: 0, y: 0 });
  const size = await host.call('get_file_size', { path: 'C:\\a.txt' });
  // @ts-expect-error the result is a number
  size.toUpperCase();
  const rect = await host.call('get_active_browser_window_rect');
  // @ts-expect-error the result may be null
  rect.width;
}
