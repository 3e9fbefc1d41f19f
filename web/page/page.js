// The page around the game: it loads the game, keeps the keyboard's focus on
// its canvas, and says on the page whatever stops it, never leaving a blank
// or frozen canvas without a word.
(function () {
  'use strict';
  var canvas = document.getElementById('canvas');
  var pageScript = document.currentScript;
  var gameScript = pageScript.getAttribute('data-game');
  var notice = function (id) { return document.getElementById(id); };
  var running = false;
  var stopped = false;

  // The first fault is the one to tell: what follows from it only repeats it
  function fail(text, canReload) {
    if (stopped) return;
    stopped = true;
    running = false;
    ['loading', 'click-to-play', 'ended'].forEach(function (id) { notice(id).hidden = true; });
    notice('failed-text').textContent = text;
    notice('reload').hidden = !canReload;
    notice('failed').hidden = false;
    if (canReload) notice('reload').focus();
  }
  function stoppedBy(what) {
    fail('Zarv stopped: ' + what + '. Reload the page to try again.', true);
  }
  function needsWebGL() {
    fail('Zarv needs a browser with WebGL and WebAssembly, which this one does not offer ' +
         '(or has turned off). Try a current Firefox, Chrome, Edge or Safari.', false);
  }

  // "click to play" whenever the keys would not reach the game
  function showFocus() {
    notice('click-to-play').hidden = !running || document.activeElement === canvas;
  }
  canvas.addEventListener('focus', showFocus);
  canvas.addEventListener('blur', showFocus);
  setInterval(showFocus, 250); // a browser whose window is not the active one may send neither
  canvas.addEventListener('click', function () { canvas.focus(); });

  // On-screen controls for touch: each stands for a key, named by its data-key,
  // and the game gets it as that key's own events on its canvas. Every finger
  // holds the control it is on, moves its press as it slides onto another, and
  // lets go wherever it is lifted.
  var keyEvents = {W: ['w', 'KeyW'], S: ['s', 'KeyS'], Up: ['ArrowUp', 'ArrowUp'],
                   Down: ['ArrowDown', 'ArrowDown'], Return: ['Enter', 'Enter'], R: ['r', 'KeyR']};
  function touchControls() {
    var fingers = {}; // touch identifier: the data-key it holds
    var holders = {}; // data-key: how many fingers hold it
    var shown = false;

    function control(key) { return document.querySelector('[data-key="' + key + '"]'); }
    function send(key, down) {
      control(key).classList.toggle('held', down);
      canvas.dispatchEvent(new KeyboardEvent(down ? 'keydown' : 'keyup',
                                             {key: keyEvents[key][0], code: keyEvents[key][1], bubbles: true}));
    }
    function hold(finger, key) {
      var before = fingers[finger];
      if (before === key) return;
      if (before) {
        delete fingers[finger];
        holders[before] -= 1;
        if (holders[before] === 0) send(before, false);
      }
      if (key) {
        fingers[finger] = key;
        holders[key] = (holders[key] || 0) + 1;
        if (holders[key] === 1) send(key, true);
      }
    }
    function keyAt(touch) {
      var found = document.elementFromPoint(touch.clientX, touch.clientY);
      found = found && found.closest('[data-key]');
      return found ? found.getAttribute('data-key') : null;
    }
    function inGame(target) {
      return target instanceof Element && (target === canvas || target.closest('[data-key]') !== null);
    }
    function show() {
      if (shown) return;
      shown = true;
      document.body.classList.add('touch');
      notice('click-to-play').textContent = 'tap to play';
      ['touch-blue', 'touch-red', 'touch-start', 'touch-menu'].forEach(function (id) { notice(id).hidden = false; });
    }
    function each(event, what) {
      for (var i = 0; i < event.changedTouches.length; ++i) what(event.changedTouches[i]);
    }
    // A touch on the game or a control neither scrolls, zooms nor takes the keyboard's focus from the game
    function onTouch(event) {
      show();
      if (!inGame(event.target)) return;
      event.preventDefault();
      if (running && document.activeElement !== canvas) canvas.focus();
      if (event.type === 'touchend') each(event, function (touch) { hold(touch.identifier, null); });
      else each(event, function (touch) { hold(touch.identifier, keyAt(touch)); });
    }
    var active = {passive: false};
    document.addEventListener('touchstart', onTouch, active);
    document.addEventListener('touchmove', onTouch, active);
    document.addEventListener('touchend', onTouch, active);
    document.addEventListener('touchcancel', function () {
      Object.keys(fingers).forEach(function (finger) { hold(finger, null); });
    });
    document.addEventListener('contextmenu', function (event) {
      if (inGame(event.target)) event.preventDefault();
    });
    // A mouse on a touch screen's controls leaves the focus on the game
    document.addEventListener('mousedown', function (event) {
      if (event.target instanceof Element && event.target.closest('[data-key]')) event.preventDefault();
    });
    if (window.matchMedia && window.matchMedia('(pointer: coarse)').matches) show();

    // iPhones have no Fullscreen API; iPads have Safari's own
    var page = document.documentElement;
    var enter = page.requestFullscreen || page.webkitRequestFullscreen;
    var leave = document.exitFullscreen || document.webkitExitFullscreen;
    if (enter && (document.fullscreenEnabled || document.webkitFullscreenEnabled)) {
      notice('fullscreen').hidden = false;
      notice('fullscreen').addEventListener('click', function () {
        var full = document.fullscreenElement || document.webkitFullscreenElement;
        Promise.resolve(full ? leave.call(document) : enter.call(page)).catch(function () {})
          .then(function () { canvas.focus(); });
      });
    }
  }
  // Play online: what it needs is fetched only when a match is wanted
  function playOnline() {
    notice('online-play').hidden = true;
    canvas.focus(); // the button had it, and hidden, would leave it to nobody
    if (window.zarvPlayOnline) return window.zarvPlayOnline();
    var script = document.createElement('script');
    ['broker', 'build', 'built'].forEach(function (name) {
      script.setAttribute('data-' + name, pageScript.getAttribute('data-' + name));
    });
    script.src = pageScript.getAttribute('data-online');
    script.onload = function () { window.zarvPlayOnline(); };
    script.onerror = function () { fail('Zarv could not load what it needs to play online. Reload the page to try again.', true); };
    document.body.appendChild(script);
  }
  notice('online-play').addEventListener('click', playOnline);

  // Offline play: a service worker keeps this release's files. Where none can
  // run (file:, a private window, an embedding site's iframe without storage)
  // the page plays all the same, and says so in one line.
  function keepForOffline() {
    var kept;
    try {
      kept = navigator.serviceWorker.register('service-worker.js');
    } catch (error) {
      kept = Promise.reject(error);
    }
    kept.catch(function (error) {
      console.info('Zarv plays here without keeping its files for offline play (' + (error && error.message) + ')');
    });
  }

  notice('play-again').addEventListener('click', function () { location.reload(); });
  notice('reload').addEventListener('click', function () { location.reload(); });

  touchControls();

  if (typeof WebAssembly !== 'object' || typeof WebGLRenderingContext !== 'function') {
    needsWebGL();
    return;
  }

  window.addEventListener('error', function (event) {
    stoppedBy(event.message || 'a file of the game could not be loaded');
  });
  // A fault inside a frame after the first ends the game's promise, not a script
  window.addEventListener('unhandledrejection', function (event) {
    var reason = event.reason;
    stoppedBy(reason && reason.message ? reason.message : String(reason));
  });
  window.Module = {
    canvas: canvas,
    print: function (text) { console.log(text); },
    printErr: function (text) { console.warn(text); }, // the game's console, as beside its window
    onRuntimeInitialized: function () {
      if (stopped) return;
      running = true;
      notice('loading').hidden = true;
      canvas.focus();
      showFocus();
      if (new URLSearchParams(location.search).has('room')) playOnline();
      keepForOffline();
    },
    onAbort: function (what) {
      if (running) stoppedBy(what);
      else fail('Zarv could not start: ' + what + '. Reload the page to try again.', true);
    },
    onNoWebGL: needsWebGL,
    // The game's textures went with the lost context: a new page is the honest way back
    onContextLost: function () {
      fail('The graphics were reset: the browser or the graphics driver started them again. ' +
           'Reload the page to play on.', true);
    },
    onExit: function () {
      if (stopped) return;
      running = false;
      showFocus();
      notice('ended').hidden = false;
      notice('play-again').focus();
    }
  };
  // The game's script runs once the page has loaded, and the game makes its
  // own WebGL context then: made while the page still loads, in Chromium on a
  // software renderer, the context took longer to come than the whole wait.
  // The preloads in index.html have the game's files coming in meanwhile.
  function start() {
    var script = document.createElement('script');
    script.src = gameScript;
    script.onerror = function () { fail('Zarv could not load ' + gameScript + '. Reload the page to try again.', true); };
    document.body.appendChild(script);
  }
  if (document.readyState === 'complete') start();
  else window.addEventListener('load', start);
}());
