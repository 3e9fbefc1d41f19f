// A page of the online cases' own, beside PeerJS's browser build, as the
// game's page connects: to the broker that serves it (the PeerJS server under
// /peerjs), with ?ice= as its RTCConfiguration, to the host whose id ?room=
// names, if any. Its messages go on a negotiated data channel, unordered and
// never retransmitted, on the PeerJS connection's own RTCPeerConnection.
// window.channel says what it did: its id, once the broker gave it, whether
// the channel is open, the messages counted (each numbered in its first 4
// bytes) and the round trips that ping() timed.
'use strict';
const query = new URLSearchParams(location.search);
const state = window.channel = {id: null, open: false, sent: 0, got: 0, numbers: new Set(), rtts: [], timer: null};
const peer = new Peer({host: location.hostname, port: Number(location.port), path: '/peerjs',
                       config: JSON.parse(query.get('ice'))});
// PeerJS drops what a connection sends to the broker before the peer is open: the offer too
peer.on('open', (id) => {
  state.id = id;
  if (query.get('room')) use(peer.connect(query.get('room')));
});
peer.on('error', (error) => console.error('peer: ' + error.type));

function use(connection) {
  const channel = connection.peerConnection.createDataChannel('zarv', {negotiated: true, id: 1, ordered: false,
                                                                      maxRetransmits: 0});
  channel.binaryType = 'arraybuffer';
  channel.onopen = () => { state.open = true; };
  channel.onmessage = ({data}) => {
    if (typeof data !== 'string') {
      state.got += 1;
      state.numbers.add(new DataView(data).getUint32(0));
    } else if (data.startsWith('ping ')) {
      channel.send('pong' + data.slice(4));
    } else if (state.rtts.push(performance.now() - Number(data.slice(5))) < state.pings) {
      state.ping();
    }
  };
  // count messages of size bytes, rate a second, till stop()
  state.stream = (rate, size, count = Infinity) => {
    state.stop();
    state.timer = setInterval(() => {
      const message = new DataView(new ArrayBuffer(size));
      message.setUint32(0, state.sent++);
      channel.send(message.buffer);
      if (state.sent >= count) state.stop();
    }, 1000 / rate);
  };
  state.stop = () => clearInterval(state.timer);
  // count round trips, one after the other
  state.ping = (count) => {
    if (count) [state.pings, state.rtts] = [count, []];
    channel.send('ping ' + performance.now());
  };
}
peer.on('connection', use);
