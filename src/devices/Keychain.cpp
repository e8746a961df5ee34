#include "devices/Keychain.h"

#include "app/IDFormatter.h"

#include <QStringDecoder>

namespace velmarin::devices::Keychain {

namespace {

secrets::SecretAddress address(const QString& account, const QString& service) {
    return {service.toStdString(), account.toStdString()};
}

// What a person sees in a keyring manager: "Velmarin: apparaat 123 456 789".
QString label(const QString& account, const QString& service) {
    QString spaced = IDFormatter::format(account);
    spaced.replace(QLatin1Char('-'), QLatin1Char(' '));
    return service == devicesService ? QStringLiteral("Velmarin: apparaat %1").arg(spaced)
                                     : QStringLiteral("Velmarin: recente verbinding %1").arg(spaced);
}

} // namespace

Expected<void, secrets::SecretStoreError> save(secrets::SecretStore& store, const QString& password,
                                               const QString& account, const QString& service) {
    return store.save(address(account, service), password.toStdString(),
                      label(account, service).toStdString());
}

std::optional<QString> load(secrets::SecretStore& store, const QString& account,
                            const QString& service) {
    const auto bytes = store.load(address(account, service));
    if (!bytes)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes->data(), qsizetype(bytes->size())));
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

Expected<void, secrets::SecretStoreError> remove(secrets::SecretStore& store, const QString& account,
                                                 const QString& service) {
    return store.remove(address(account, service));
}

} // namespace velmarin::devices::Keychain
