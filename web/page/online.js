// Zarv online: a match between two devices from one link. The host opens a
// room at a PeerJS broker and shows its link; the guest opens the link. Their
// pages meet through the broker, agree on their builds over PeerJS's own
// channel, then send the game's packets over a data channel of their own on
// the same connection, unordered and never resent: each packet carries every
// input the other side has not acknowledged, and the game's rollback session
// (web/online.cpp) makes up for what is lost. This file is bundled after
// PeerJS and qrcode-generator, and loaded only when a match is wanted.
(function () {
  'use strict';
  var page = document.currentScript;
  var params = new URLSearchParams(location.search);
  var element = function (id) { return document.getElementById(id); };
  var role = function (name) { return document.querySelector('[data-role="' + name + '"]'); };
  var Module = window.Module;
  // A packet is sent at once unless the channel is backed up: then only the newest waits to go
  var BACKED_UP = 1024;

  function tell(text, ended) {
    element('online-text').textContent = text;
    element('online').hidden = false;
    element('online-alone').hidden = !ended;
    if (ended) element('online-invite').hidden = element('online-qr').hidden = true;
  }
  function status(text) {
    role('online-status').textContent = text;
    role('online-status').hidden = false;
  }
  function hideNotice() { element('online').hidden = true; }

  // The broker: the page's default, or ?broker=URL, as PeerJS's options
  function brokerOptions() {
    var broker = new URL(params.get('broker') || page.getAttribute('data-broker'));
    var secure = broker.protocol === 'https:';
    var ice = params.get('ice');
    return {host: broker.hostname, port: Number(broker.port) || (secure ? 443 : 80), path: broker.pathname,
            secure: secure, key: 'peerjs',
            config: ice ? JSON.parse(ice) : {iceServers: [{urls: 'stun:stun.l.google.com:19302'}]}};
  }

  function inviteLink(room) {
    var link = new URL(location.pathname, location.origin);
    link.searchParams.set('room', room);
    ['broker', 'ice'].forEach(function (name) { if (params.has(name)) link.searchParams.set(name, params.get(name)); });
    return link.href;
  }

  function showInvite(link) {
    var anchor = role('invite');
    anchor.href = link;
    anchor.textContent = link;
    element('online-invite').hidden = false;
    element('online-share').hidden = !navigator.share;
    var qr = qrcode(0, 'M');
    qr.addData(link);
    qr.make();
    element('online-qr').src = qr.createDataURL(4, 8);
    element('online-qr').hidden = false;
  }

  element('online-copy').addEventListener('click', function () {
    navigator.clipboard.writeText(role('invite').href).then(function () {
      element('online-copy').textContent = 'Copied';
    }, function () {
      getSelection().selectAllChildren(role('invite'));
    });
  });
  element('online-share').addEventListener('click', function () {
    navigator.share({title: 'Zarv', text: 'Play Zarv with me', url: role('invite').href}).catch(function () {});
  });
  element('online-alone').addEventListener('click', function () { location.href = location.pathname; });

  // The build: the game's script is named by the hash of what it loads. The
  // older page is the one to reload.
  var build = page.getAttribute('data-build');
  var built = Number(page.getAttribute('data-built'));
  function sameBuild(other) {
    if (other.build === build) return true;
    tell(other.built > built ? 'The other player has a newer Zarv: reload this page to play them.'
                             : 'The other player has an older Zarv: they need to reload their page.', true);
    return false;
  }

  var STATES = ['Connecting…', 'Online', 'Interrupted…', 'The match has ended'];
  var ENDED = {1: 'The other player has another Zarv: the one with the older page needs to reload it.',
               2: 'The connection to the other player was lost.', 3: 'The other player left.',
               4: 'You left the match.'};
  var awayText = 'The other player\'s tab is hidden: the game waits for them.';

  // The game's side of the channel (web/online.cpp)
  function play(connection, side, seed) {
    var channel = connection.peerConnection.createDataChannel('zarv', {negotiated: true, id: 7, ordered: false,
                                                                       maxRetransmits: 0});
    channel.binaryType = 'arraybuffer';
    channel.bufferedAmountLowThreshold = BACKED_UP;
    var waiting = null;
    function flush() {
      if (waiting && channel.readyState === 'open' && channel.bufferedAmount <= BACKED_UP) {
        channel.send(waiting);
        waiting = null;
        Module.zarvOnline.sent++;
      }
    }
    channel.onbufferedamountlow = flush;
    Module.zarvOnline = {
      incoming: [],
      channel: channel,
      sent: 0,
      replaced: 0, // packets that a newer one replaced while the channel was backed up
      send: function (packet) {
        if (waiting) Module.zarvOnline.replaced++;
        waiting = packet;
        flush();
      },
      status: function (state, roundTrip, delay, late) {
        if (state === 1 || state === 2) {
          status(state === 2 ? STATES[2] : late ? 'Waiting for the other player…'
                                                : 'Online · round trip ' + roundTrip + ' ms · input delay ' + delay +
                                                  (delay === 1 ? ' frame' : ' frames'));
        }
      },
      event: function (kind, reason, frame, detail) {
        if (kind === 0) hideNotice();
        else if (kind === 3) tell('The two games went out of step at frame ' + frame + ' (' + detail + '): ' +
                                  'this match cannot go on.', true);
        else if (kind === 4) { tell(ENDED[reason] || STATES[3], true); status(ENDED[reason] || STATES[3]); }
        else if (kind === 5) tell(awayText, false);
        else if (kind === 6 && element('online-text').textContent === awayText) hideNotice();
      },
    };
    // A tab that closes may not get its bye out, but its end of the channel closes
    channel.onclose = function () { Module._zarvOnlineClosed(); };
    channel.onmessage = function (event) {
      Module.zarvOnline.incoming.push({data: new Uint8Array(event.data), at: performance.now()});
    };
    channel.onopen = function () {
      playing = true;
      connection.provider.disconnect(); // from the broker, the match's connection kept
      Module._zarvOnlineStart(side, seed >>> 0, parseInt(build.slice(0, 8), 16), parseInt(build.slice(8), 16));
    };
    document.addEventListener('visibilitychange', function () { Module._zarvOnlineAway(document.hidden ? 1 : 0); });
    // A tab that closes says so on its way; one that vanishes leaves the match to time out
    window.addEventListener('pagehide', function () { Module._zarvOnlineLeave(); });
  }

  // Both sides say their build over PeerJS's channel; the host gives the seed
  function meet(connection, side) {
    tell('Connecting…', false);
    var seed = side === 0 ? crypto.getRandomValues(new Uint32Array(1))[0] : 0;
    connection.on('data', function (hello) {
      if (!hello || typeof hello.build !== 'string') return;
      if (sameBuild(hello)) play(connection, side, side === 0 ? seed : hello.seed);
    });
    connection.send({build: build, built: built, seed: seed});
  }

  var playing = false;
  function brokerFailed(error) {
    if (playing) return; // the broker only brings the pages together
    tell(error.type === 'peer-unavailable' ? 'That room is closed: ask for a new link.'
                                           : 'Zarv could not reach the broker that connects the players (' +
                                             error.type + ').', true);
  }

  window.zarvPlayOnline = function () {
    var peer = new peerjs.Peer(brokerOptions());
    peer.on('error', brokerFailed);
    var room = params.get('room');
    if (room) {
      tell('Connecting…', false);
      peer.on('open', function () {
        var connection = peer.connect(room, {reliable: true, serialization: 'json'});
        connection.on('open', function () { meet(connection, 1); });
      });
      return;
    }
    tell('Opening a room…', false);
    peer.on('open', function (id) {
      showInvite(inviteLink(id));
      tell('Waiting for the other player…', false);
    });
    peer.on('connection', function (connection) {
      if (Module.zarvOnline) return connection.close(); // a match is on already
      connection.on('open', function () { meet(connection, 0); });
    });
  };
}());
