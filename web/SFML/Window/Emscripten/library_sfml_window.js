// What SFML's window in the page needs of Emscripten's own JavaScript: the
// canvas's WebGL context made the way Emscripten's GLFW and SDL make it, so
// that its emulation of fixed-function OpenGL is set up on it, and the
// canvas's size in device pixels.
// The page (Module) is told when there is no WebGL and when the context is lost.
mergeInto(LibraryManager.library, {
  sfCreateCanvasContext__deps: ['$Browser', '$GL', '$sfCanvasLost'],
  sfCreateCanvasContext: function() {
    var canvas = Module['canvas'];
    // Kept from the browser's default, so that the context may come back at all
    canvas.addEventListener('webglcontextlost', function(event) {
      event.preventDefault();
      sfCanvasLost.lost = true;
      if (Module['onContextLost']) Module['onContextLost']();
    });
    var attributes = {antialias: true, alpha: false, depth: false, stencil: false, majorVersion: 1};
    if (!Browser.createContext(canvas, true, true, attributes)) {
      if (Module['onNoWebGL']) Module['onNoWebGL']();
      abort('no WebGL context');
    }
    return GL.currentContext.handle;
  },

  // Without its context the game draws nothing until the page is reloaded
  $sfCanvasLost: {lost: false},
  sfContextLost__deps: ['$sfCanvasLost'],
  sfContextLost: function() {
    return sfCanvasLost.lost ? 1 : 0;
  },

  // The canvas's drawing buffer follows its size on the page in device
  // pixels, so that it is sharp on any screen and in fullscreen, also when the
  // page is zoomed or moved to another screen; the window takes the new size
  // at the start of its next frame (sfTakeCanvasSize)
  $sfCanvasSize: {width: 0, height: 0, changed: false},
  sfWatchCanvasSize__deps: ['$sfCanvasSize'],
  sfWatchCanvasSize: function() {
    var canvas = Module['canvas'];
    function measure() {
      var width = Math.round(canvas.clientWidth * devicePixelRatio);
      var height = Math.round(canvas.clientHeight * devicePixelRatio);
      if (width < 1 || height < 1) return; // hidden
      sfCanvasSize.width = width;
      sfCanvasSize.height = height;
      sfCanvasSize.changed = true;
    }
    function onNewDensity() {
      measure();
      matchMedia('(resolution: ' + devicePixelRatio + 'dppx)').addEventListener('change', onNewDensity, {once: true});
    }
    if (typeof ResizeObserver === 'function') new ResizeObserver(measure).observe(canvas);
    if (window.matchMedia) onNewDensity();
  },
  sfTakeCanvasSize__deps: ['$sfCanvasSize'],
  sfTakeCanvasSize: function(width, height) {
    if (!sfCanvasSize.changed) return 0;
    sfCanvasSize.changed = false;
    HEAP32[width >> 2] = sfCanvasSize.width;
    HEAP32[height >> 2] = sfCanvasSize.height;
    return 1;
  },

  // Emscripten's OpenAL resumes its audio on the first key or click only,
  // once: a first key that is no gesture to the browser (Escape), a touch, or
  // an audio context that the system suspended or interrupted later (a call
  // on a phone) would leave the game silent. Every gesture resumes it instead.
  $autoResumeAudioContext: function(context) {
    function resume() {
      // Refused without a gesture (on becoming visible again): the next one tries again
      if (context.state !== 'running' && context.state !== 'closed') context.resume().catch(function() {});
    }
    ['keydown', 'keyup', 'mousedown', 'pointerdown', 'touchstart', 'touchend'].forEach(function(type) {
      window.addEventListener(type, resume, true);
    });
    document.addEventListener('visibilitychange', function() {
      if (!document.hidden) resume();
    });
  },
});
