// What SFML's window in the page needs of Emscripten's own JavaScript: the
// canvas's WebGL context made the way Emscripten's GLFW and SDL make it, so
// that its emulation of fixed-function OpenGL is set up on it, and a wait for
// the browser's next frame that the game's loop sleeps through (Asyncify).
// The page (Module) is told when there is no WebGL and when the context is lost.
mergeInto(LibraryManager.library, {
  sfCreateCanvasContext__deps: ['$Browser', '$GL', '$sfFrameLoop'],
  sfCreateCanvasContext: function() {
    var canvas = Module['canvas'];
    // Kept from the browser's default, so that the context may come back at all
    canvas.addEventListener('webglcontextlost', function(event) {
      event.preventDefault();
      sfFrameLoop.contextLost = true;
      if (Module['onContextLost']) Module['onContextLost']();
    });
    var attributes = {antialias: true, alpha: false, depth: false, stencil: false, majorVersion: 1};
    if (!Browser.createContext(canvas, true, true, attributes)) {
      if (Module['onNoWebGL']) Module['onNoWebGL']();
      abort('no WebGL context');
    }
    return GL.currentContext.handle;
  },

  // Once main has waited for a frame, it runs on from the browser's frames,
  // and Emscripten 3.1.6 does nothing when it then returns: that return ends
  // the program as a main that returns at once does (static destructors,
  // Module.onExit). A fault in any of those frames rejects the same promise,
  // and goes on to the page as an unhandled rejection. Without its context
  // the game waits, drawing nothing, until the page is reloaded.
  $sfFrameLoop: {watching: false, contextLost: false},
  sfWaitForFrame__deps: ['$Asyncify', '$sfFrameLoop'],
  sfWaitForFrame: function(animationFrame) {
    return Asyncify.handleSleep(function(wakeUp) {
      function resume() {
        if (sfFrameLoop.contextLost) return;
        if (!sfFrameLoop.watching) {
          sfFrameLoop.watching = true;
          Asyncify.whenDone().then(function(status) {
            try {
              exit(status);
            } catch (e) {
              if (!(e instanceof ExitStatus)) throw e;
            }
          }, function(fault) {
            if (!(fault instanceof ExitStatus)) throw fault;
          });
        }
        wakeUp();
      }
      if (animationFrame) requestAnimationFrame(resume);
      else setTimeout(resume, 0);
    });
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
