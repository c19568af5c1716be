// A stand-in for the desktop's StatusNotifierWatcher on a private session
// bus: it says a host is there, takes item registrations and prints each
// registered item's service name on stdout, one a line.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <cstdio>

namespace {

const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

class Watcher : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> args = message.arguments();
        if (message.interface() == propertiesInterface) {
            QVariantMap all;
            all.insert(QStringLiteral("RegisteredStatusNotifierItems"), items);
            all.insert(QStringLiteral("IsStatusNotifierHostRegistered"), true);
            all.insert(QStringLiteral("ProtocolVersion"), 0);
            if (message.member() == QLatin1String("GetAll")) {
                connection.send(message.createReply(all));
                return true;
            }
            if (message.member() == QLatin1String("Get") && args.size() == 2) {
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(args[1].toString())))));
                return true;
            }
            return false;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierItem") && args.size() == 1) {
            // An item gives its object path or its service name; the sender names the service.
            QString item = args[0].toString();
            if (item.startsWith(QLatin1Char('/'))) item = message.service() + item;
            items << item;
            std::printf("%s\n", item.toUtf8().constData());
            std::fflush(stdout);
            connection.send(message.createReply());
            QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"), watcherInterface,
                                                             QStringLiteral("StatusNotifierItemRegistered"));
            signal << item;
            connection.send(signal);
            return true;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierHost")) {
            connection.send(message.createReply());
            return true;
        }
        return false;
    }
    QStringList items;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher) ||
        !bus.registerService(watcherInterface)) {
        std::fprintf(stderr, "sni-watcher: cannot take the watcher's name\n");
        return 1;
    }
    return app.exec();
}
