#pragma once
// Distributed notifications: the broadcast signal Posted(s name, s object) on the session bus at
// /app/glimra/DistributedNotificationCenter, interface app.glimra.DistributedNotificationCenter.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <vector>

namespace glimra {

class DistributedNotificationCenter : public QObject {
    Q_OBJECT
public:
    using Observer = std::function<void(const QString& name, const QString& object)>;

    static constexpr const char* path = "/app/glimra/DistributedNotificationCenter";
    static constexpr const char* interface = "app.glimra.DistributedNotificationCenter";

    // The center of the session bus, owned by the application object.
    static DistributedNotificationCenter& defaultCenter();

    explicit DistributedNotificationCenter(QDBusConnection bus, QObject* parent = nullptr);

    void postNotificationName(const QString& name, const QString& object = QString());

    // Observes name from any sender, on the thread this center lives on. Observers stay for the
    // center's life: the programs that use them end with them.
    void addObserver(const QString& name, Observer observer);

private slots:
    void posted(const QString& name, const QString& object);

private:
    QDBusConnection bus_;
    std::map<QString, std::vector<Observer>> observers_;
};

} // namespace glimra
