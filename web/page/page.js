// The page around the game: it loads the game, keeps the keyboard's focus on
// its canvas, and says on the page whatever stops it, never leaving a blank
// or frozen canvas without a word.
(function () {
  'use strict';
  var canvas = document.getElementById('canvas');
  var gameScript = document.currentScript.getAttribute('data-game');
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
  notice('play-again').addEventListener('click', function () { location.reload(); });
  notice('reload').addEventListener('click', function () { location.reload(); });

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
  var script = document.createElement('script');
  script.src = gameScript;
  script.onerror = function () { fail('Zarv could not load ' + gameScript + '. Reload the page to try again.', true); };
  document.body.appendChild(script);
  // The canvas's WebGL context, made now with the game's settings (those of
  // sfCreateCanvasContext) while the game's files come in, so that the
  // browser sets up its GPU side meanwhile, not after. A canvas has one
  // context of a kind: the game's own asks for it again and gets this one,
  // or, where there is none, fails and says so.
  canvas.getContext('webgl', {antialias: true, alpha: false, depth: false, stencil: false});
}());
