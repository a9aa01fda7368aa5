// Drives headless Chromium over its DevTools pipe (no npm packages needed):
// loads a page that carries the injected control panel, opens the panel,
// clicks one of its actions with real mouse events, lands on the local
// server's confirmation page and clicks Confirm there; then, when given a
// hostile page, loads it and waits for the form it submits by itself.
// Usage: node panel_driver.js <chromium> <page url> <artifact dir> <profile dir> <action> [hostile page url]
// Prints one JSON line; exit code 0 when the steps ran (the caller judges).
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');

const [chromium, pageUrl, artifacts, profile, action, hostileUrl] = process.argv.slice(2);
const deadline = setTimeout(() => finish({ error: 'deadline passed' }, 2), 60000);

const browser = spawn(chromium, [
  '--headless', '--no-sandbox', '--disable-gpu', '--remote-debugging-pipe',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-default-apps', '--no-first-run', '--no-default-browser-check', '--disable-extensions',
  '--metrics-recording-only', '--disable-breakpad', '--disable-features=Translate,MediaRouter',
  // Frames of other sites in the page's own process, so their navigations show on its session.
  '--disable-site-isolation-trials',
  // Everything but loopback would go to a closed port: no traffic leaves the machine.
  '--proxy-server=http://127.0.0.1:9',
  '--user-data-dir=' + profile, '--window-size=1000,700', 'about:blank',
], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });

let nextId = 1;
const pending = new Map();
// Events by method: how many have arrived, and who waits for the n-th.
const seen = new Map();
const waiters = [];
const childFrames = [];
let buffered = '';
browser.stdio[4].on('data', (chunk) => {
  buffered += chunk.toString('utf8');
  let end;
  while ((end = buffered.indexOf('\0')) >= 0) {
    const msg = JSON.parse(buffered.slice(0, end));
    buffered = buffered.slice(end + 1);
    if (msg.id && pending.has(msg.id)) {
      const { resolve, reject } = pending.get(msg.id);
      pending.delete(msg.id);
      if (msg.error) reject(new Error(JSON.stringify(msg.error)));
      else resolve(msg.result);
    } else if (msg.method) {
      if (msg.method === 'Page.frameNavigated' && msg.params.frame.parentId) childFrames.push(msg.params.frame.url);
      const count = (seen.get(msg.method) || 0) + 1;
      seen.set(msg.method, count);
      for (let i = waiters.length - 1; i >= 0; i--) {
        if (waiters[i].method === msg.method && count >= waiters[i].count) {
          waiters[i].resolve(msg.params);
          waiters.splice(i, 1);
        }
      }
    }
  }
});
browser.on('exit', () => finish({ error: 'browser ended early' }, 2));

function send(method, params = {}, sessionId) {
  const id = nextId++;
  const msg = { id, method, params };
  if (sessionId) msg.sessionId = sessionId;
  browser.stdio[3].write(JSON.stringify(msg) + '\0');
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
}
// Resolves once `count` events of the method have arrived in all.
function eventNumber(method, count) {
  if ((seen.get(method) || 0) >= count) return Promise.resolve();
  return new Promise((resolve) => waiters.push({ method, count, resolve }));
}

let finished = false;
function finish(result, code) {
  if (finished) return;
  finished = true;
  clearTimeout(deadline);
  process.stdout.write(JSON.stringify(result) + '\n');
  browser.removeAllListeners('exit');
  try { browser.kill('SIGKILL'); } catch (e) { /* already gone */ }
  process.exitCode = code;
}

async function main() {
  const { targetInfos } = await send('Target.getTargets');
  const page = targetInfos.find((t) => t.type === 'page');
  const { sessionId } = await send('Target.attachToTarget', { targetId: page.targetId, flatten: true });
  const call = (method, params) => send(method, params, sessionId);
  const evaluate = async (expression) =>
    (await call('Runtime.evaluate', { expression, returnByValue: true })).result.value;
  const shots = [];
  const shot = async (name) => {
    const { data } = await call('Page.captureScreenshot', { format: 'png' });
    const file = path.join(artifacts, name);
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
    shots.push(file);
  };
  // Runs `go` and waits for the load that follows it (`loads` loads in all).
  const load = async (go, loads = 1) => {
    const loaded = eventNumber('Page.loadEventFired', (seen.get('Page.loadEventFired') || 0) + loads);
    await go();
    await loaded;
  };
  const pageState = async () => ({
    href: await evaluate('location.href'),
    title: await evaluate('document.title'),
    text: await evaluate('document.body.innerText'),
  });
  const mouseClick = async (box) => {
    for (const type of ['mouseMoved', 'mousePressed', 'mouseReleased'])
      await call('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
  };
  // Clicks the centre of an element: inside the panel's shadow root, or of the document.
  const click = async (selector, inPanel) => {
    const box = await evaluate(`(() => {
      const root = ${inPanel} ? (document.getElementById('zelk-control') || {}).shadowRoot : document;
      const el = root && root.querySelector('${selector}');
      if (!el) return null;
      const r = el.getBoundingClientRect();
      return { x: r.x + r.width / 2, y: r.y + r.height / 2, w: r.width, h: r.height };
    })()`);
    if (!box || box.w === 0 || box.h === 0) throw new Error('not visible: ' + selector);
    await mouseClick(box);
  };

  await call('Page.enable');
  await call('Runtime.enable');
  await load(() => call('Page.navigate', { url: pageUrl }));
  const panelFound = await evaluate(`!!document.getElementById('zelk-control')`);
  await shot('panel-1-page.png');
  await click('[data-zelk=toggle]', true);
  const expanded = await evaluate(`document.getElementById('zelk-control').shadowRoot
      .querySelector('[data-zelk=toggle]').getAttribute('aria-expanded')`);
  await shot('panel-2-open.png');
  await load(() => click(`[data-zelk=${action}]`, true));
  const confirmation = await pageState();
  confirmation.form = await evaluate(`(() => {
    const f = document.querySelector('form');
    return f && { method: f.method, action: f.action, token: (f.elements.token || {}).value };
  })()`);
  await shot(`panel-3-confirm-${action}.png`);
  await load(() => click('#confirm', false));
  const answer = await pageState();
  await shot(`panel-4-done-${action}.png`);

  let hostile = null;
  if (hostileUrl) {
    // The page's own load, then the load of what its form brings back.
    await load(() => call('Page.navigate', { url: hostileUrl }), 2);
    hostile = await pageState();
    hostile.childFrames = childFrames;
    await shot('hostile-after.png');
  }
  finish({ panelFound, expanded, confirmation, answer, hostile, shots }, 0);
}

main().catch((e) => finish({ error: String(e && e.stack || e) }, 2));
