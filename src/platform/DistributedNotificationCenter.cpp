#include "DistributedNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusMessage>

namespace glimra {

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    static DistributedNotificationCenter* center =
        new DistributedNotificationCenter(QDBusConnection::sessionBus(), QCoreApplication::instance());
    return *center;
}

DistributedNotificationCenter::DistributedNotificationCenter(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DistributedNotificationCenter::postNotificationName(const QString& name, const QString& object) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(interface), QStringLiteral("Posted"));
    signal << name << object;
    bus_.send(signal);
}

void DistributedNotificationCenter::addObserver(const QString& name, Observer observer) {
    auto& list = observers_[name];
    if (list.empty()) {
        // Match on arg0 so the bus only wakes this process for names it observes.
        bus_.connect(QString(), QString::fromLatin1(path), QString::fromLatin1(interface),
                     QStringLiteral("Posted"), QStringList{name}, QString(), this,
                     SLOT(posted(QString, QString)));
    }
    list.push_back(std::move(observer));
}

void DistributedNotificationCenter::posted(const QString& name, const QString& object) {
    const auto it = observers_.find(name);
    if (it == observers_.end())
        return;
    // Copy: an observer may add observers while it runs.
    const auto observers = it->second;
    for (const auto& observer : observers)
        observer(name, object);
}

} // namespace glimra
