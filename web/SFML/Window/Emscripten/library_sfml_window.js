// What SFML's window in the page needs of Emscripten's own JavaScript: the
// canvas's WebGL context made the way Emscripten's GLFW and SDL make it, so
// that its emulation of fixed-function OpenGL is set up on it, a wait for
// the browser's next frame that the game's loop sleeps through (Asyncify),
// and the canvas's size in device pixels.
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
  sfWaitForFrame__deps: ['$Asyncify', '$sfFrameLoop', '$sfFramePacing'],
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
      function onAnimationFrame(time) {
        if (sfFramePacing.due(time)) resume();
        else requestAnimationFrame(onAnimationFrame);
      }
      if (animationFrame) requestAnimationFrame(onAnimationFrame);
      else setTimeout(resume, 0);
    });
  },

  // The game moves a fixed step a frame, made for 60 frames a second; the
  // browser's animation frames come at the display's rate, 120 or 144 a
  // second on many. A game frame is due once 1/60 s has gathered, to the
  // nearest refresh, so that 144 Hz alternates two and three refreshes. A
  // display of about 60 Hz or slower runs a frame every refresh, however
  // early or late its frames come, as vertical sync does: its rate is the
  // median of the last refreshes, so that one early frame does not count.
  $sfFramePacing: {
    period: 1000 / 60,
    last: null,
    gathered: 0,
    intervals: [],
    refresh: function() {
      var sorted = this.intervals.slice().sort(function(a, b) { return a - b; });
      return sorted[sorted.length >> 1];
    },
    due: function(time) {
      if (this.last === null) {
        this.last = time;
        return true;
      }
      var interval = time - this.last;
      this.last = time;
      this.intervals.push(interval);
      if (this.intervals.length > 9) this.intervals.shift();
      var refresh = this.intervals.length >= 3 ? this.refresh() : this.period;
      if (refresh > this.period * 0.9) {
        this.gathered = 0;
        return true;
      }
      this.gathered = Math.min(this.gathered + interval, 2 * this.period);
      if (this.gathered < this.period - refresh / 2) return false;
      this.gathered -= this.period;
      return true;
    },
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
