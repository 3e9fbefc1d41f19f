# Run after the page is linked (cmake -DJS=zarv.js -DDATA=zarv.data -P):
# Emscripten's file packager names the data file with a random UUID, which
# would give every build other bytes. It is only read to cache the data in
# the browser, which the page does not ask for: the UUID is made from the
# data's own SHA-256 instead, the same for the same data.
file(SHA256 "${DATA}" hash)
string(REGEX REPLACE "^(........)(....)(....)(....)(............).*$" "\\1-\\2-\\3-\\4-\\5" id "${hash}")
file(READ "${JS}" text)
string(REGEX REPLACE "\"package_uuid\":\"[0-9a-f-]+\"" "\"package_uuid\":\"${id}\"" text "${text}")
file(WRITE "${JS}" "${text}")
