#include "ui/mpris/MprisService.h"

#include <unistd.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "ui/framework/Messages.h"
#include "ui/model/CommandLine.h"
#include "ui/mpris/SessionBusAddress.h"
#include "ui/window/Resources.h"

namespace brellin {

namespace {

const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString connectionName = QStringLiteral("brellin-session-bus");

const char* const interfaceXml =
    "  <interface name=\"org.mpris.MediaPlayer2\">\n"
    "    <method name=\"Raise\"/>\n"
    "    <method name=\"Quit\"/>\n"
    "    <property name=\"CanQuit\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanRaise\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"HasTrackList\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"Identity\" type=\"s\" access=\"read\"/>\n"
    "    <property name=\"DesktopEntry\" type=\"s\" access=\"read\"/>\n"
    "    <property name=\"SupportedUriSchemes\" type=\"as\" access=\"read\"/>\n"
    "    <property name=\"SupportedMimeTypes\" type=\"as\" access=\"read\"/>\n"
    "  </interface>\n"
    "  <interface name=\"org.mpris.MediaPlayer2.Player\">\n"
    "    <method name=\"Next\"/>\n"
    "    <method name=\"Previous\"/>\n"
    "    <method name=\"Pause\"/>\n"
    "    <method name=\"PlayPause\"/>\n"
    "    <method name=\"Stop\"/>\n"
    "    <method name=\"Play\"/>\n"
    "    <method name=\"Seek\"><arg name=\"Offset\" type=\"x\" direction=\"in\"/></method>\n"
    "    <method name=\"SetPosition\"><arg name=\"TrackId\" type=\"o\" direction=\"in\"/>"
    "<arg name=\"Position\" type=\"x\" direction=\"in\"/></method>\n"
    "    <method name=\"OpenUri\"><arg name=\"Uri\" type=\"s\" direction=\"in\"/></method>\n"
    "    <signal name=\"Seeked\"><arg name=\"Position\" type=\"x\"/></signal>\n"
    "    <property name=\"PlaybackStatus\" type=\"s\" access=\"read\"/>\n"
    "    <property name=\"Rate\" type=\"d\" access=\"readwrite\"/>\n"
    "    <property name=\"Metadata\" type=\"a{sv}\" access=\"read\"/>\n"
    "    <property name=\"Volume\" type=\"d\" access=\"readwrite\"/>\n"
    "    <property name=\"Shuffle\" type=\"b\" access=\"readwrite\"/>\n"
    "    <property name=\"LoopStatus\" type=\"s\" access=\"readwrite\"/>\n"
    "    <property name=\"Position\" type=\"x\" access=\"read\"/>\n"
    "    <property name=\"MinimumRate\" type=\"d\" access=\"read\"/>\n"
    "    <property name=\"MaximumRate\" type=\"d\" access=\"read\"/>\n"
    "    <property name=\"CanGoNext\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanGoPrevious\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanPlay\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanPause\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanSeek\" type=\"b\" access=\"read\"/>\n"
    "    <property name=\"CanControl\" type=\"b\" access=\"read\"/>\n"
    "  </interface>\n";

// The volume setting runs 0..128; the bus speaks 0.0..1.0.
constexpr double VOLUME_SCALE = 128.0;

QString statusOf(const MediaState& state) {
    if (!state.playing) return QStringLiteral("Stopped");
    return state.paused ? QStringLiteral("Paused") : QStringLiteral("Playing");
}

// The song's speed in percent as the bus's Rate (1.0 = 100 %).
double rateOf(const MediaState& state) { return state.speed / 100.0; }

}  // namespace

MprisService::MprisService(MainWindow& w) : window(w) {
    bool fromEnvironment = false;
    const std::string address = sessionBusAddress(&fromEnvironment);
    if (address.empty()) {
        std::fprintf(stderr, "brellin: no D-Bus session bus, media keys are not available\n");
        return;
    }
    if (fromEnvironment) {
        bus = QDBusConnection::sessionBus();
    } else {
        bus = QDBusConnection::connectToBus(QString::fromStdString(address), connectionName);
        ownConnection = true;
    }
    if (!bus.isConnected()) {
        std::fprintf(stderr, "brellin: no D-Bus session bus, media keys are not available\n");
        return;
    }
    if (!bus.registerVirtualObject(objectPath, this, QDBusConnection::SingleNode)) {
        std::fprintf(stderr, "brellin: could not register the media player object on the session bus\n");
        return;
    }
    // Another Brellin of the same desktop (its own runtime folder) may hold
    // the name: the instance form of the name keeps both reachable.
    QString name = QStringLiteral("org.mpris.MediaPlayer2.brellin");
    if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(static_cast<long long>(::getpid()));
        if (!bus.registerService(name)) {
            bus.unregisterObject(objectPath);
            std::fprintf(stderr, "brellin: the media player name is taken on the session bus\n");
            return;
        }
    }
    busName = name;
    reported = window.mediaState();
    window.mediaObserver = this;
}

MprisService::~MprisService() {
    if (window.mediaObserver == this) window.mediaObserver = nullptr;
    if (registered()) {
        bus.unregisterObject(objectPath);
        bus.unregisterService(busName);
    }
    if (ownConnection) QDBusConnection::disconnectFromBus(connectionName);
}

QString MprisService::introspect(const QString&) const { return QString::fromLatin1(interfaceXml); }

QVariantMap MprisService::metadata(const MediaState& state) const {
    QVariantMap map;
    // A new object path for every song made current.
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackPath(state))));
    if (state.path.empty()) return map;
    map.insert(QStringLiteral("xesam:title"),
               QString::fromUtf8(state.title.data(), static_cast<qsizetype>(state.title.size())));
    // File names are bytes; a URL carries them percent-encoded as they are.
    // A play list may name its songs relative to the folder the player runs in.
    const std::string absolute = absoluteFileName(state.path, currentFolder());
    const QByteArray path(absolute.data(), static_cast<qsizetype>(absolute.size()));
    map.insert(QStringLiteral("xesam:url"), QString::fromLatin1("file://" + path.toPercentEncoding("/")));
    if (state.lengthUs > 0) map.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(state.lengthUs));
    if (!state.lyrics.empty()) {
        map.insert(QStringLiteral("xesam:asText"),
                   QString::fromUtf8(state.lyrics.data(), static_cast<qsizetype>(state.lyrics.size())));
    }
    return map;
}

QString MprisService::trackPath(const MediaState& state) {
    return QStringLiteral("/org/brellin/song/%1").arg(state.song);
}

QVariant MprisService::property(const QString& interface, const QString& name) const {
    const QVariantMap all = allProperties(interface);
    const auto found = all.find(name);
    return found == all.end() ? QVariant() : found.value();
}

QVariantMap MprisService::allProperties(const QString& interface) const {
    QVariantMap map;
    if (interface == rootInterface) {
        map.insert(QStringLiteral("CanQuit"), true);
        map.insert(QStringLiteral("CanRaise"), true);
        map.insert(QStringLiteral("HasTrackList"), false);
        map.insert(QStringLiteral("Identity"), QStringLiteral("Brellin"));
        map.insert(QStringLiteral("DesktopEntry"), QStringLiteral("brellin"));
        map.insert(QStringLiteral("SupportedUriSchemes"), QStringList{QStringLiteral("file")});
        map.insert(QStringLiteral("SupportedMimeTypes"),
                   QStringList{QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi")});
    } else if (interface == playerInterface) {
        const MediaState state = window.mediaState();
        map.insert(QStringLiteral("PlaybackStatus"), statusOf(state));
        map.insert(QStringLiteral("Rate"), rateOf(state));
        map.insert(QStringLiteral("MinimumRate"), Sequencer::MIN_SPEED / 100.0);
        map.insert(QStringLiteral("MaximumRate"), Sequencer::MAX_SPEED / 100.0);
        map.insert(QStringLiteral("Metadata"), metadata(state));
        map.insert(QStringLiteral("Volume"), std::clamp(state.volume, 0, 128) / VOLUME_SCALE);
        map.insert(QStringLiteral("Shuffle"), shuffleOf(state.mode));
        map.insert(QStringLiteral("LoopStatus"), QString::fromLatin1(loopStatusOf(state.mode)));
        map.insert(QStringLiteral("Position"), static_cast<qlonglong>(state.positionUs));
        map.insert(QStringLiteral("CanGoNext"), true);
        map.insert(QStringLiteral("CanGoPrevious"), true);
        map.insert(QStringLiteral("CanPlay"), true);
        map.insert(QStringLiteral("CanPause"), true);
        map.insert(QStringLiteral("CanSeek"), true);
        map.insert(QStringLiteral("CanControl"), true);
    }
    return map;
}

void MprisService::postCommand(std::uint16_t id) {
    if (window.hwnd != nullptr) window.hwnd->postMessage(WM_COMMAND, makeCommandWParam(0, id), 0);
}

bool MprisService::callMethod(const QString& interface, const QString& member) {
    const bool playing = window.isPlaying();
    const bool paused = window.isPaused();
    if (interface == rootInterface || interface.isEmpty()) {
        if (member == QLatin1String("Raise")) {
            postCommand(IDM_SHOW_WINDOW);
            return true;
        }
        if (member == QLatin1String("Quit")) {
            postCommand(IDM_EXIT);
            return true;
        }
    }
    if (interface == playerInterface || interface.isEmpty()) {
        // Pause holds the song where it is; Play goes on from there (or
        // starts a stopped song); Stop stops, paused or not.
        if (member == QLatin1String("PlayPause")) {
            postCommand(playing ? IDM_PAUSE : IDM_PLAY_STOP);
            return true;
        }
        if (member == QLatin1String("Play")) {
            if (!playing) postCommand(IDM_PLAY_STOP);
            if (paused) postCommand(IDM_PAUSE);
            return true;
        }
        if (member == QLatin1String("Pause")) {
            if (playing && !paused) postCommand(IDM_PAUSE);
            return true;
        }
        if (member == QLatin1String("Stop")) {
            if (playing) postCommand(IDM_STOP);
            return true;
        }
        if (member == QLatin1String("Next")) {
            postCommand(IDM_NEXT);
            return true;
        }
        if (member == QLatin1String("Previous")) {
            postCommand(IDM_PREVIOUS);
            return true;
        }
    }
    return false;
}

bool MprisService::seekCall(const QDBusMessage& message) {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    // Offsets and positions in microseconds.
    if (member == QLatin1String("Seek") && args.size() == 1) {
        window.seekBy(args[0].toLongLong() / 1000);
        return true;
    }
    if (member == QLatin1String("SetPosition") && args.size() == 2) {
        // Only for the song that plays, and only within it.
        const MediaState state = window.mediaState();
        const QString track = args[0].value<QDBusObjectPath>().path();
        const qlonglong position = args[1].toLongLong();
        if (track == trackPath(state) && position >= 0 && (state.lengthUs <= 0 || position <= state.lengthUs))
            window.seekTo(static_cast<std::uint32_t>(std::min<qlonglong>(position / 1000, UINT32_MAX)));
        return true;
    }
    return false;
}

bool MprisService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const QString interface = message.interface();
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();

    if (interface == propertiesInterface) {
        if (member == QLatin1String("Get") && args.size() == 2) {
            const QVariant value = property(args[0].toString(), args[1].toString());
            if (!value.isValid()) {
                connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property")));
                return true;
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        if (member == QLatin1String("GetAll") && args.size() == 1) {
            connection.send(message.createReply(allProperties(args[0].toString())));
            return true;
        }
        if (member == QLatin1String("Set") && args.size() == 3) {
            if (args[0].toString() == playerInterface && args[1].toString() == QLatin1String("Volume")) {
                const double volume = args[2].value<QDBusVariant>().variant().toDouble();
                window.setVolume(static_cast<std::int32_t>(std::clamp(volume, 0.0, 1.0) * VOLUME_SCALE + 0.5));
                connection.send(message.createReply());
            } else if (args[0].toString() == playerInterface && args[1].toString() == QLatin1String("Rate")) {
                // 0 pauses; other rates are held to MinimumRate … MaximumRate.
                const double rate = args[2].value<QDBusVariant>().variant().toDouble();
                if (rate <= 0.0) {
                    window.pausePlayback();
                } else {
                    window.setSpeed(static_cast<std::int32_t>(std::clamp(rate, 0.5, 2.0) * 100.0 + 0.5));
                }
                connection.send(message.createReply());
            } else if (args[0].toString() == playerInterface && args[1].toString() == QLatin1String("Shuffle")) {
                const bool shuffle = args[2].value<QDBusVariant>().variant().toBool();
                window.setPlayMode(modeForShuffle(window.playList.mode(), shuffle));
                connection.send(message.createReply());
            } else if (args[0].toString() == playerInterface && args[1].toString() == QLatin1String("LoopStatus")) {
                const QString status = args[2].value<QDBusVariant>().variant().toString();
                PlayMode mode = PlayMode::Normal;
                if (modeForLoopStatus(window.playList.mode(), status.toStdString(), &mode)) {
                    window.setPlayMode(mode);
                    connection.send(message.createReply());
                } else {
                    connection.send(message.createErrorReply(
                        QDBusError::NotSupported, QStringLiteral("The play modes have no repeat of one song")));
                }
            } else {
                connection.send(message.createErrorReply(QDBusError::PropertyReadOnly, QStringLiteral("Read-only")));
            }
            return true;
        }
        return false;
    }
    if (member == QLatin1String("OpenUri") && (interface == playerInterface || interface.isEmpty())) {
        openUri(message, connection);
        return true;
    }
    if ((interface == playerInterface || interface.isEmpty()) && seekCall(message)) {
        if (message.isReplyRequired()) connection.send(message.createReply());
        return true;
    }
    if (!callMethod(interface, member)) return false;
    // The command runs after this reply: it may end the window (Exit).
    if (!message.isReplyRequired()) return true;
    connection.send(message.createReply());
    return true;
}

void MprisService::openUri(const QDBusMessage& message, const QDBusConnection& connection) {
    const QList<QVariant> args = message.arguments();
    const QUrl url(args.isEmpty() ? QString() : args[0].toString());
    // File names are bytes: the path's percent escapes give them back as
    // they are. A double quote could not pass through a command line.
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (url.scheme() != QLatin1String("file") || !url.host().isEmpty() || path.isEmpty() || path.contains('"') ||
        static_cast<std::size_t>(path.size()) >= COMMAND_TOKEN_SIZE) {
        connection.send(message.createErrorReply(QDBusError::NotSupported, QStringLiteral("Only local files")));
        return;
    }
    connection.send(message.createReply());
    // As a second start's "FILE play": added to the list and played.
    const char* const arguments[] = {"brellin", path.constData(), "play"};
    window.handleHandOver(joinArguments(3, arguments).c_str());
}

void MprisService::mediaChanged() {
    if (!registered()) return;
    const MediaState state = window.mediaState();
    const MediaChanges changes = compareMedia(reported, state);
    reported = state;
    if (!changes.any()) return;
    QVariantMap changed;
    if (changes.status) changed.insert(QStringLiteral("PlaybackStatus"), statusOf(state));
    if (changes.rate) changed.insert(QStringLiteral("Rate"), rateOf(state));
    if (changes.metadata) changed.insert(QStringLiteral("Metadata"), metadata(state));
    if (changes.volume) changed.insert(QStringLiteral("Volume"), std::clamp(state.volume, 0, 128) / VOLUME_SCALE);
    if (changes.mode) {
        changed.insert(QStringLiteral("Shuffle"), shuffleOf(state.mode));
        changed.insert(QStringLiteral("LoopStatus"), QString::fromLatin1(loopStatusOf(state.mode)));
    }
    if (!changed.isEmpty()) {
        QDBusMessage signal =
            QDBusMessage::createSignal(objectPath, propertiesInterface, QStringLiteral("PropertiesChanged"));
        signal << playerInterface << changed << QStringList();
        bus.send(signal);
    }
    // A seek is told with the new position (Position itself is never announced).
    if (changes.seeked) {
        QDBusMessage seeked = QDBusMessage::createSignal(objectPath, playerInterface, QStringLiteral("Seeked"));
        seeked << static_cast<qlonglong>(state.positionUs);
        bus.send(seeked);
    }
}

}  // namespace brellin
