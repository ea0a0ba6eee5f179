// Where the local socket of the remote commands lies, and making sure that
// nobody but the user who runs Bearfix can take its place or listen on it.
// Toolkit-free, shared by the window and bearfix-cli.
#pragma once

#include <sys/types.h>

#include <string>

namespace bearfix {

// $BEARFIX_SOCKET, else $XDG_RUNTIME_DIR/bearfix.sock, else bearfix.sock in
// privateSocketDirectory().
std::string remoteSocketPath();

// "/tmp/bearfix-<uid>": the socket's directory when the session has no
// runtime directory. Anybody can create names in /tmp, so it is made private.
std::string privateSocketDirectory();

// Makes `directory` with mode 0700, or checks the one there: a directory,
// not a symbolic link, owned by this user, mode 0700. Empty when so;
// otherwise the message that says what is wrong.
std::string ensurePrivateDirectory(const std::string& directory);

// Makes `path` ready for a new listener: nothing is there, or a socket that
// nobody listens on any more, which is removed. In the private directory,
// the directory is checked first. Empty when ready; otherwise the message.
// Anything else at `path` is left as it is.
std::string claimSocketPath(const std::string& path);

// The user at the other end of a connected local socket.
bool peerUid(int fd, uid_t* uid);

// Whether the other end of `fd` is served by user `me`; when not, `other`
// is the user who serves it (-1 when that cannot be told).
bool servedBy(int fd, uid_t me, long* other);

}  // namespace bearfix
