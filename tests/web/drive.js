// Drives the page in a real browser for tests/end_to_end.py: one command a
// line on standard input, one JSON answer a line on standard output.
//
//   keydown KEY | keyup KEY        a real key event (the DevTools protocol or
//                                  WebDriver BiDi), to whatever has the focus
//   click SELECTOR                 a real click on an element
//   shot                           the canvas as PNG, base64
//   eval EXPRESSION                the expression's value, as JSON
//   log                            what the page said: console messages,
//                                  uncaught errors, what its Content-Security-
//                                  Policy refused, and every sound started
//
// Every sound is counted as the page's Web Audio starts it: the length and
// pitch of its buffer tell which it is, its playback rate the pitch it was given.
//
// Usage: node drive.js chromium|firefox URL
'use strict';
const readline = require('readline');
const puppeteer = require('puppeteer-core');

const [browserName, url] = process.argv.slice(2);
const viewport = {width: 1280, height: 800}; // the canvas fits at 1280 x 720, with the controls below

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
  // The moment the game asks for its first frame, that is, has drawn one
  const request = window.requestAnimationFrame;
  window.requestAnimationFrame = function (callback) {
    if (window.zarvLog.firstFrame === undefined) window.zarvLog.firstFrame = performance.now();
    return request.call(window, callback);
  };
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
  await page.evaluateOnNewDocument(listen);
  await page.goto(url);

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
        await page.click(argument);
        answer(true);
      } else if (command === 'shot') {
        const canvas = await page.$('#canvas');
        answer(await canvas.screenshot({encoding: 'base64'}));
      } else if (command === 'eval') {
        answer(await page.evaluate(argument));
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
