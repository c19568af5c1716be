// MprisService: the player on the D-Bus session bus as a media player
// (org.mpris.MediaPlayer2.brellin), so that media keys and the desktop's
// player widget control it.
//
// It only adapts: calls become the window's own commands (Play/Stop, Pause,
// Stop, Next, Previous, Display window, Exit) or its seeks and speed, properties come from
// MainWindow::mediaState(), and PropertiesChanged goes out when the window
// reports a change. Qt D-Bus delivers the calls on the user-interface thread,
// the same one the window runs on. Without a session bus it stays idle, and
// it never lets the D-Bus library start a bus of its own.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>

#include "ui/window/MainWindow.h"
#include "ui/window/MediaState.h"

namespace brellin {

class MprisService : public QDBusVirtualObject, public MediaObserver {
public:
    // Registers on the session bus and starts listening to `window`, which
    // must outlive the service.
    explicit MprisService(MainWindow& window);
    ~MprisService() override;

    // Whether the player is on the bus (false: no session bus).
    bool registered() const { return !busName.isEmpty(); }

    // QDBusVirtualObject
    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // MediaObserver
    void mediaChanged() override;

private:
    QVariant property(const QString& interface, const QString& name) const;
    QVariantMap allProperties(const QString& interface) const;
    QVariantMap metadata(const MediaState& state) const;
    // Runs window command `id` once the current bus call has returned.
    void postCommand(std::uint16_t id);
    bool callMethod(const QString& interface, const QString& member);
    // Seek and SetPosition; false for any other call.
    bool seekCall(const QDBusMessage& message);
    // The object path of the current song (mpris:trackid).
    static QString trackPath(const MediaState& state);
    // OpenUri: a local file URL is opened and played as "brellin FILE play" would.
    void openUri(const QDBusMessage& message, const QDBusConnection& connection);

    MainWindow& window;
    // The session bus, once connected (see sessionBusAddress); a connection
    // of our own when the address was not in the environment.
    QDBusConnection bus{QString()};
    bool ownConnection = false;
    QString busName;
    MediaState reported;
};

}  // namespace brellin
