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

  sfWaitForFrame__deps: ['$Asyncify'],
  sfWaitForFrame: function(animationFrame) {
    return Asyncify.handleSleep(function(wakeUp) {
      if (animationFrame) requestAnimationFrame(function() { wakeUp(); });
      else setTimeout(wakeUp, 0);
    });
  },
});
