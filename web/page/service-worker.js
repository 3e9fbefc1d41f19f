// Zarv's service worker: it keeps one release's files, so that the page
// starts and plays with no network. The files named by their contents are
// served from the cache; index.html is asked of the network first and taken
// from the cache only when there is none, so that a new release at the same
// address is taken on the next visit online. A release's cache is named after
// it; older ones go once the new one is complete.
'use strict';
var RELEASE = 'zarv-@release@';
var FILES = @files@;

self.addEventListener('install', function (event) {
  // From the browser's HTTP cache where the page's own load left them there
  var requests = FILES.map(function (name) { return new Request(name, {cache: name === 'index.html' ? 'no-cache' : 'force-cache'}); });
  event.waitUntil(caches.open(RELEASE).then(function (cache) { return cache.addAll(requests); })
    .then(function () { return self.skipWaiting(); }));
});

self.addEventListener('activate', function (event) {
  event.waitUntil(caches.keys().then(function (names) {
    return Promise.all(names.filter(function (name) { return name.indexOf('zarv-') === 0 && name !== RELEASE; })
      .map(function (name) { return caches.delete(name); }));
  }).then(function () { return self.clients.claim(); }));
});

self.addEventListener('fetch', function (event) {
  var request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== location.origin) return;
  if (request.mode === 'navigate') {
    event.respondWith(fetch(request).catch(function () {
      return caches.match('index.html', {cacheName: RELEASE}).then(function (page) { return page || Response.error(); });
    }));
    return;
  }
  event.respondWith(caches.match(request, {cacheName: RELEASE}).then(function (kept) {
    return kept || fetch(request).then(function (response) {
      // A file named by its contents that is fetched later (online.<hash>.js) is kept too
      if (response.ok && /\.[0-9a-f]{16}\.\w+$/.test(new URL(request.url).pathname)) {
        var copy = response.clone();
        caches.open(RELEASE).then(function (cache) { return cache.put(request, copy); });
      }
      return response;
    });
  }));
});
