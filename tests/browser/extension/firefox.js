// Firefox's background script for the browser end-to-end test. There is no DevTools-style
// evaluation to call runSequence() from outside, so the add-on starts it by itself: the
// driver writes plan.json beside this file before installing the add-on, and the
// transcript goes back to the driver's HTTP server on 127.0.0.1 named in the plan.
import './background.js';

async function report(url, body) {
  // A text body keeps this a simple cross-origin request: no preflight to answer.
  await fetch(url, { method: 'POST', headers: { 'content-type': 'text/plain' }, body: JSON.stringify(body) });
}

const plan = await (await fetch(browser.runtime.getURL('plan.json'))).json();
try {
  const transcript = await globalThis.runSequence(plan);
  await report(plan.reportUrl, { transcript });
} catch (error) {
  await report(plan.reportUrl, { failure: `${error?.name}: ${error?.message}\n${error?.stack ?? ''}` });
}
