// The broker that online cases connect their pages through, for
// tests/harness/net.py: one HTTP server on 127.0.0.1 that serves FOLDER's
// files and the PeerJS server under /peerjs, so that a page is same-origin
// with its broker, as its Content-Security-Policy wants. A page's PeerJS
// client takes {host: '127.0.0.1', port: PORT, path: '/peerjs'}.
//
// It prints its port once it listens, and exits when its standard input closes.
//
// Usage: node broker.js FOLDER
'use strict';
const http = require('http');
const express = require('express');
const {ExpressPeerServer} = require('peer');

const [folder] = process.argv.slice(2);
if (!folder) {
  process.stderr.write('usage: node broker.js FOLDER\n');
  process.exit(2);
}
const app = express();
const server = http.createServer(app);
app.use('/peerjs', ExpressPeerServer(server, {path: '/'}));
app.use(express.static(folder, {
  setHeaders: (response, path) => {
    if (path.endsWith('.wasm')) response.setHeader('Content-Type', 'application/wasm');
  },
}));
server.listen(0, '127.0.0.1', () => process.stdout.write(server.address().port + '\n'));
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
