// Whether a graphical display answers, asked before a program creates its
// QApplication: Qt aborts the process when its platform plugin cannot reach
// the display, so a run from cron, ssh, a systemd unit, CI or with a stale
// DISPLAY must find out first and go on headless.
//
// The probe opens the connection itself, without Qt or any display library,
// and gives up after a short time-out:
// - QT_QPA_PLATFORM names the platforms Qt will try, in order ("wayland;xcb",
//   "offscreen", "xcb:option"). offscreen and minimal need no display and
//   count as answering; wayland* probes Wayland, xcb probes X11; other
//   platforms cannot be checked and are passed over. Unset: Wayland, then
//   X11, each where its variable is set.
// - Wayland: $WAYLAND_DISPLAY, an absolute socket path or a name in
//   $XDG_RUNTIME_DIR. An accepted connection answers.
// - X11: $DISPLAY (see ParseX11Display). The connection setup is sent with
//   the MIT-MAGIC-COOKIE-1 cookie that the display's Xauthority entry holds
//   ($XAUTHORITY, else ~/.Xauthority), as Qt's connection would send it; only
//   a server that accepts the setup answers. One that refuses authorisation
//   (su to another user, a cookie from another session) would make Qt abort
//   just the same, so it counts as no display.
#pragma once

#include <QString>

namespace vl {

inline constexpr int kDisplayProbeTimeoutMs = 500;

// Where an X11 display name leads.
struct TX11Address {
    enum class TKind {
        Local,  // ":n", "unix:n": abstract socket "\0/tmp/.X11-unix/Xn", then that file
        Socket, // "/path/to/socket:n" or "/path/to/socket": that Unix socket file
        Tcp,    // "host:n", "tcp/host:n", "[v6addr]:n": host port 6000+n
    };
    TKind Kind = TKind::Local;
    QString Host;       // Tcp
    QString SocketPath; // Socket; for Local the file socket
    int Number = 0;     // the display number (the screen is ignored)
};

// Parses a DISPLAY value ("[protocol/][host]:n[.screen]"). An absolute path
// names the socket itself (display number 0) when a socket exists there,
// else the text before the last ':' is the socket path. False for what no X11 connection can be
// made to: empty, no display number, DECnet "host::n", other protocols.
bool ParseX11Display(const QString &display, TX11Address &address);

// True when a display Qt would use answers within timeoutMs (in total; the
// look-up of a TCP display's host name is not bounded by it);
// otherwise false with the reason in why, e.g. "DISPLAY=:97: connection
// refused" or "neither WAYLAND_DISPLAY nor DISPLAY is set".
bool DisplayAnswers(QString *why = nullptr, int timeoutMs = kDisplayProbeTimeoutMs);

} // namespace vl
