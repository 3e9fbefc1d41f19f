// Drives the page in a real browser for tests/harness/page.py: one command a
// line on standard input, one JSON answer a line on standard output.
//
//   keydown KEY | keyup KEY        a real key event (the DevTools protocol or
//                                  WebDriver BiDi), to whatever has the focus
//   click SELECTOR                 a real click on an element
//   touchstart FINGER AT           a finger put down, moved or lifted (the
//   touchmove FINGER AT            DevTools protocol's touch events); AT is
//   touchend FINGER                "X,Y" in CSS pixels or an element's centre
//   viewport JSON                  page.setViewport, as the page is turned
//   shot                           the canvas as PNG, base64
//   eval EXPRESSION                the expression's value, as JSON
//   frame N                        shot, eval and click act in the page's
//                                  Nth frame from then on (0: the page)
//   installability                 Chromium's installability errors
//   reload [network]               the page loaded again; network: every
//                                  file from the server, none from a cache
//   close                          the tab closed, as a player does
//   log                            what the page said: console messages,
//                                  uncaught errors, what its Content-Security-
//                                  Policy refused, and every sound started
//
// Every sound is counted as the page's Web Audio starts it: the length and
// pitch of its buffer tell which it is, its playback rate the pitch it was given.
//
// OPTIONS, JSON, may set the viewport (page.setViewport's, touch and device
// pixels a CSS pixel with it) and stand in for devices before the page's
// own scripts run: "display": {"hz": 144, "jitter": 1} drives the page's
// animation frames and performance.now() together from a clock of its own,
// which window.zarvDisplay counts and can pause; "gamepads": true gives the
// page navigator.getGamepads() returning window.zarvGamepads, which the test
// fills. Either way window.zarvLog.clears counts the game's frames (each
// clears the canvas once).
//
// Usage: node drive.js chromium|firefox URL [OPTIONS]
'use strict';
const readline = require('readline');
const puppeteer = require('puppeteer-core');

const [browserName, url, optionsText] = process.argv.slice(2);
const options = JSON.parse(optionsText || '{}');
// The canvas fits at 1280 x 720, with the controls below
const viewport = options.viewport || {width: 1280, height: 800};

// Runs in the page before its own scripts
function listen() {
  window.zarvLog = {sounds: [], contexts: [], refused: []};
  document.addEventListener('securitypolicyviolation', (event) =>
    window.zarvLog.refused.push(event.effectiveDirective + ': ' + (event.blockedURI || 'inline')));
  const start = AudioBufferSourceNode.prototype.start;
  AudioBufferSourceNode.prototype.start = function (...args) {
    // The buffer's own pitch, from its zero crossings, as the desktop test's ear checks each file's
    const samples = this.buffer ? this.buffer.getChannelData(0) : [];
    let crossings = 0;
    for (let i = 1; i < samples.length; ++i) crossings += (samples[i - 1] < 0) !== (samples[i] < 0) ? 1 : 0;
    window.zarvLog.sounds.push({at: performance.now(), duration: this.buffer ? this.buffer.duration : 0,
                                pitch: this.buffer ? crossings / 2 / this.buffer.duration : 0,
                                rate: this.playbackRate.value});
    return start.apply(this, args);
  };
  const Context = window.AudioContext;
  window.AudioContext = function (...args) {
    const context = new Context(...args);
    window.zarvLog.contexts.push(context);
    return context;
  };
  window.AudioContext.prototype = Context.prototype;
  window.zarvLog.clears = 0;
  const clear = WebGLRenderingContext.prototype.clear;
  WebGLRenderingContext.prototype.clear = function (...args) {
    window.zarvLog.clears += 1;
    return clear.apply(this, args);
  };
  // The moment the game asks for its first frame, that is, has drawn one
  const request = window.requestAnimationFrame;
  window.requestAnimationFrame = function (callback) {
    if (window.zarvLog.firstFrame === undefined) window.zarvLog.firstFrame = performance.now();
    return request.call(window, callback);
  };
}

// A display of its own clock: a refresh every 1000 / hz ms of it, each
// jitter ms early or late in turn, one on each of the browser's own
// animation frames. The page's clock is that one, so that the frames a
// second are counted by it, however slow the machine.
function standInDisplay(display) {
  const callbacks = [];
  const clock = {hz: display.hz, jitter: display.jitter || 0, refreshes: 0, now: 0, paused: false};
  window.zarvDisplay = clock;
  let ideal = 0;
  const realFrame = window.requestAnimationFrame.bind(window);
  performance.now = () => clock.now;
  window.requestAnimationFrame = (callback) => callbacks.push(callback);
  const refresh = () => {
    realFrame(refresh);
    if (clock.paused || callbacks.length === 0) return;
    clock.refreshes += 1;
    ideal += 1000 / clock.hz;
    clock.now = ideal + (clock.refreshes % 2 ? clock.jitter : -clock.jitter);
    for (const callback of callbacks.splice(0)) callback(clock.now);
  };
  realFrame(refresh);
}

// Pads as the Gamepad API gives them: {id, index, connected, mapping,
// buttons: [{pressed, value}], axes, timestamp}; null where one has gone
function standInGamepads() {
  window.zarvGamepads = [];
  navigator.getGamepads = () => window.zarvGamepads.slice();
}

const noWebGL = process.env.ZARV_NO_WEBGL === '1'; // to see what a browser without WebGL is told
const browsers = {
  chromium: {
    browser: 'chrome', executablePath: '/usr/bin/chromium', headless: true,
    // WebGL on SwiftShader, and none of Chromium's calls home, which this network refuses
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-quic',
           '--disable-default-apps', ...(noWebGL ? ['--disable-webgl'] : [])],
  },
  firefox: {
    // Headless Firefox has no WebGL: it runs in the test's Xvfb, on Mesa's llvmpipe
    browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: false,
    // A test machine may have no sound card, and no window manager to make
    // the browser's window the active one: Firefox's own test settings for
    // both, a stand-in audio device and focus as in an active window
    extraPrefsFirefox: {'media.cubeb.force_mock_context': true, 'focusmanager.testmode': true,
                        ...(noWebGL ? {'webgl.disabled': true} : {'webgl.force-enabled': true})},
  },
};

async function main() {
  const messages = [];
  const browser = await puppeteer.launch({...browsers[browserName], defaultViewport: viewport,
                                          protocolTimeout: 120000});
  const [page] = await browser.pages();
  page.on('console', (message) => messages.push({type: message.type(), text: message.text()}));
  page.on('pageerror', (error) => messages.push({type: 'pageerror', text: String(error.message || error)}));
  if (options.display) await page.evaluateOnNewDocument(standInDisplay, options.display);
  if (options.gamepads) await page.evaluateOnNewDocument(standInGamepads);
  await page.evaluateOnNewDocument(listen);
  await page.goto(url);

  const fingers = {};
  let target = page; // the frame that shot, eval and click act in
  const at = async (where) => {
    const [x, y] = where.split(',').map(Number);
    if (where.includes(',') && !isNaN(x) && !isNaN(y)) return [x, y];
    const box = await page.$eval(where, (element) => {
      const rect = element.getBoundingClientRect();
      return [rect.left + rect.width / 2, rect.top + rect.height / 2];
    });
    return box;
  };

  const commands = readline.createInterface({input: process.stdin});
  const answer = (value) => process.stdout.write(JSON.stringify(value === undefined ? null : value) + '\n');
  for await (const line of commands) {
    const space = line.indexOf(' ');
    const command = space < 0 ? line : line.slice(0, space);
    const argument = space < 0 ? '' : line.slice(space + 1);
    try {
      if (command === 'keydown') {
        await page.keyboard.down(argument);
        answer(true);
      } else if (command === 'keyup') {
        await page.keyboard.up(argument);
        answer(true);
      } else if (command === 'click') {
        await target.click(argument);
        answer(true);
      } else if (command === 'touchstart' || command === 'touchmove') {
        const finger = argument.split(' ', 1)[0];
        const where = argument.slice(finger.length + 1);
        const [x, y] = await at(where);
        if (command === 'touchstart') fingers[finger] = await page.touchscreen.touchStart(x, y);
        else await fingers[finger].move(x, y);
        answer(true);
      } else if (command === 'touchend') {
        await fingers[argument].end();
        delete fingers[argument];
        answer(true);
      } else if (command === 'frame') {
        target = page.frames()[Number(argument)];
        answer(Boolean(target));
        target = target || page;
      } else if (command === 'reload') {
        await page.reload({ignoreCache: argument === 'network'}); // network: past the service worker and the cache
        answer(true);
      } else if (command === 'installability') {
        const session = await page.createCDPSession();
        answer((await session.send('Page.getInstallabilityErrors')).installabilityErrors);
        await session.detach();
      } else if (command === 'close') {
        await page.close(); // as a player closes the tab: the browser runs on
        answer(true);
      } else if (command === 'viewport') {
        await page.setViewport(JSON.parse(argument));
        answer(true);
      } else if (command === 'shot') {
        const canvas = await target.$('#canvas');
        answer(await canvas.screenshot({encoding: 'base64'}));
      } else if (command === 'eval') {
        answer(await target.evaluate(argument));
      } else if (command === 'log') {
        const [sounds, refused] = await page.evaluate('window.zarvLog ? [window.zarvLog.sounds, window.zarvLog.refused]'
                                                      + ' : [[], []]');
        answer({messages: messages, sounds: sounds, refused: refused});
      } else {
        answer({error: 'no such command: ' + command});
      }
    } catch (error) {
      answer({error: String(error.message || error)});
    }
  }
  await browser.close();
}

main().catch((error) => {
  process.stderr.write('drive.js: ' + (error.stack || error) + '\n');
  process.exit(1);
});
