// The unit tests, built for the browser, run under Node, which has no Web
// Audio for Emscripten's OpenAL to play through: this stands in for the
// little of it that OpenAL uses. Time stands still, so a started sound
// plays until it is stopped, as the tests' long silent samples do.
Module['preRun'] = [function () {
  function node() {
    return {connect: function () {}, disconnect: function () {}, gain: {value: 1},
            setPosition: function () {}, setOrientation: function () {}, setVelocity: function () {}};
  }
  function AudioContext() {
    this.currentTime = 0;
    this.sampleRate = 44100;
    this.state = 'running';
    this.destination = node();
    this.listener = node();
  }
  AudioContext.prototype.createGain = node;
  AudioContext.prototype.createPanner = node;
  AudioContext.prototype.createBuffer = function (channels, length, rate) {
    var data = [];
    for (var i = 0; i < channels; ++i) data.push(new Float32Array(length));
    return {numberOfChannels: channels, length: length, sampleRate: rate, duration: length / rate,
            getChannelData: function (i) { return data[i]; }};
  };
  AudioContext.prototype.createBufferSource = function () {
    var source = node();
    source.playbackRate = {value: 1};
    source.start = source.stop = function () {};
    return source;
  };
  AudioContext.prototype.resume = AudioContext.prototype.suspend = AudioContext.prototype.close =
    function () { return Promise.resolve(); };
  globalThis.window = globalThis;
  globalThis.addEventListener = function () {};
  globalThis.AudioContext = AudioContext;
  globalThis.document = {getElementById: function () { return null; }, addEventListener: function () {}};
}];
