// What SFML's window in the page needs of Emscripten's own JavaScript: the
// canvas's WebGL context made the way Emscripten's GLFW and SDL make it, so
// that its emulation of fixed-function OpenGL is set up on it, and a wait for
// the browser's next frame that the game's loop sleeps through (Asyncify).
mergeInto(LibraryManager.library, {
  sfCreateCanvasContext__deps: ['$Browser', '$GL'],
  sfCreateCanvasContext: function() {
    var attributes = {antialias: true, alpha: false, depth: false, stencil: false, majorVersion: 1};
    if (!Browser.createContext(Module['canvas'], true, true, attributes)) return 0;
    return GL.currentContext.handle;
  },

  // Once main has waited for a frame, it runs on from the browser's frames,
  // and Emscripten 3.1.6 does nothing when it then returns: that return ends
  // the program as a main that returns at once does (static destructors,
  // Module.onExit).
  $sfFrameLoop: {watching: false},
  sfWaitForFrame__deps: ['$Asyncify', '$sfFrameLoop'],
  sfWaitForFrame: function(animationFrame) {
    return Asyncify.handleSleep(function(wakeUp) {
      function resume() {
        if (!sfFrameLoop.watching) {
          sfFrameLoop.watching = true;
          Asyncify.whenDone().then(function(status) {
            try {
              exit(status);
            } catch (e) {
              if (!(e instanceof ExitStatus)) throw e;
            }
          });
        }
        wakeUp();
      }
      if (animationFrame) requestAnimationFrame(resume);
      else setTimeout(resume, 0);
    });
  },
});
