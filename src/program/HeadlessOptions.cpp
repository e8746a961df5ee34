#include "program/HeadlessOptions.h"

#include "app/IDFormatter.h"

#include <QDir>
#include <QFileInfo>

namespace velmarin {

namespace {

std::optional<QString> normalisedID(const QString& text) {
    const QString id = IDFormatter::normalize(text);
    if (id.size() != 9)
        return std::nullopt;
    return id;
}

UsageError invalidID(const QString& text) {
    return {QStringLiteral("Ongeldig ID \"%1\": een ID bestaat uit negen cijfers.").arg(text)};
}

HeadlessCommand parseHost(const QStringList& args) {
    HostOptions options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if ((arg == QStringLiteral("--password") || arg == QStringLiteral("--id")) &&
            i + 1 >= args.size())
            return UsageError{QStringLiteral("%1 verwacht een waarde.").arg(arg)};
        if (arg == QStringLiteral("--password")) {
            const QString password = args[++i];
            if (password.trimmed().isEmpty())
                return UsageError{QStringLiteral("Het wachtwoord mag niet leeg zijn.")};
            options.password = password;
        } else if (arg == QStringLiteral("--id")) {
            const auto id = normalisedID(args[++i]);
            if (!id)
                return invalidID(args[i]);
            options.id = *id;
        } else {
            return UsageError{QStringLiteral("Onbekende optie: %1").arg(arg)};
        }
    }
    return options;
}

HeadlessCommand parseView(const QStringList& args) {
    ViewOptions options;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QStringLiteral("--seconds")) {
            if (i + 1 >= args.size())
                return UsageError{QStringLiteral("--seconds verwacht een waarde.")};
            bool ok = false;
            const int seconds = args[++i].toInt(&ok);
            if (!ok || seconds <= 0)
                return UsageError{QStringLiteral("--seconds verwacht een positief geheel getal.")};
            options.seconds = seconds;
        } else if (arg == QStringLiteral("--record")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return UsageError{QStringLiteral("--record verwacht een bestandsnaam.")};
            const QFileInfo file(args[++i]);
            if (!file.absoluteDir().exists())
                return UsageError{QStringLiteral("De map voor de opname bestaat niet: %1")
                                      .arg(file.absolutePath())};
            if (file.isDir())
                return UsageError{QStringLiteral("%1 is een map, geen bestand.").arg(args[i])};
            options.recordFile = file.absoluteFilePath();
        } else if (arg == QStringLiteral("--chat")) {
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty())
                return UsageError{QStringLiteral("--chat verwacht een tekst.")};
            options.chat = args[++i].trimmed();
        } else if (arg == QStringLiteral("--send-file")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return UsageError{QStringLiteral("--send-file verwacht een bestandsnaam.")};
            options.sendFile = QFileInfo(args[++i]).absoluteFilePath();
        } else if (arg == QStringLiteral("--device")) {
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty())
                return UsageError{QStringLiteral("--device verwacht een naam of ID.")};
            options.device = args[++i];
        } else if (arg == QStringLiteral("--window")) {
            options.window = true;
        } else if (arg == QStringLiteral("--fullscreen")) {
            options.fullscreen = true;
        } else if (arg.startsWith(QStringLiteral("--"))) {
            return UsageError{QStringLiteral("Onbekende optie: %1").arg(arg)};
        } else {
            positional.append(arg);
        }
    }
    if (options.fullscreen && !options.window)
        return UsageError{QStringLiteral("--fullscreen hoort bij --window.")};
    // The window has its own ways to record, chat and send files.
    if (options.window && (options.recordFile || options.chat || options.sendFile))
        return UsageError{QStringLiteral("--record, --chat en --send-file horen bij de sessie "
                                         "zonder venster, niet bij --window.")};
    if (options.device) {
        if (!positional.isEmpty())
            return UsageError{QStringLiteral("Geef een opgeslagen apparaat of een ID en "
                                             "wachtwoord op, niet allebei.")};
        return options;
    }
    if (positional.size() != 2)
        return UsageError{QStringLiteral("Geef het ID en het wachtwoord van de host op.")};
    const auto id = normalisedID(positional[0]);
    if (!id)
        return invalidID(positional[0]);
    if (positional[1].isEmpty())
        return UsageError{QStringLiteral("Het wachtwoord mag niet leeg zijn.")};
    options.id = *id;
    options.password = positional[1];
    return options;
}

HeadlessCommand parseDevices(const QStringList& args) {
    using Action = DevicesOptions::Action;
    DevicesOptions options;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QStringLiteral("--password-file") || arg == QStringLiteral("--note")) {
            if (i + 1 >= args.size())
                return UsageError{QStringLiteral("%1 verwacht een waarde.").arg(arg)};
            (arg == QStringLiteral("--note") ? options.note : options.passwordFile) = args[++i];
        } else if (arg == QStringLiteral("--password")) {
            return UsageError{QStringLiteral("Een wachtwoord op de opdrachtregel kunnen andere "
                                             "gebruikers lezen: geef het via standaardinvoer "
                                             "of met --password-file.")};
        } else if (arg.startsWith(QStringLiteral("--"))) {
            return UsageError{QStringLiteral("Onbekende optie: %1").arg(arg)};
        } else {
            positional.append(arg);
        }
    }
    const QString action = positional.value(0);
    const qsizetype count = positional.size();
    if (action == QStringLiteral("list") && count == 1) {
        options.action = Action::list;
    } else if (action == QStringLiteral("add") && count == 3) {
        options.action = Action::add;
        options.device = positional[1];
        const auto id = normalisedID(positional[2]);
        if (!id)
            return invalidID(positional[2]);
        options.id = *id;
    } else if (action == QStringLiteral("rename") && count == 3) {
        options.action = Action::rename;
        options.device = positional[1];
        options.newName = positional[2];
    } else if (action == QStringLiteral("remove") && count == 2) {
        options.action = Action::remove;
        options.device = positional[1];
    } else {
        return UsageError{QStringLiteral("Gebruik: velmarin devices list | add NAAM ID | "
                                         "rename NAAM-OF-ID NIEUWE-NAAM | remove NAAM-OF-ID")};
    }
    if ((options.note || options.passwordFile) && options.action != Action::add)
        return UsageError{QStringLiteral("--note en --password-file horen bij devices add.")};
    return options;
}

} // namespace

std::optional<HeadlessCommand> parseHeadlessCommand(const QStringList& arguments) {
    if (arguments.isEmpty())
        return std::nullopt;
    const QStringList rest = arguments.mid(1);
    if (arguments.front() == QStringLiteral("host"))
        return parseHost(rest);
    if (arguments.front() == QStringLiteral("view"))
        return parseView(rest);
    if (arguments.front() == QStringLiteral("devices"))
        return parseDevices(rest);
    return std::nullopt;
}

QString headlessUsage() {
    return QStringLiteral(
        "Gebruik:\n"
        "  velmarin [--login-item]\n"
        "      Opent het programmavenster. --login-item: gestart bij het inloggen\n"
        "      (het venster opent geminimaliseerd).\n"
        "  velmarin --version\n"
        "      Toont de versie en de commit waaruit het programma gebouwd is.\n"
        "  velmarin host [--password WACHTWOORD] [--id ID]\n"
        "      Deelt dit scherm en toont ID en wachtwoord. Met --password blijven ID en\n"
        "      wachtwoord vast en verbindt de host zelf opnieuw met de server; het\n"
        "      opgegeven wachtwoord wordt niet getoond.\n"
        "  velmarin view ID WACHTWOORD [--seconds N] [--record BESTAND] [--chat TEKST]\n"
        "                [--send-file BESTAND]\n"
        "      Verbindt met een host en toont wat er binnenkomt; stopt na N seconden.\n"
        "      Met --record wordt het beeld opgenomen in BESTAND (MP4); --chat stuurt\n"
        "      een chatregel. Ontvangen chatregels verschijnen als: chat AFZENDER UU:MM TEKST\n"
        "      --send-file stuurt BESTAND naar de map Downloads van de host, toont elke\n"
        "      seconde de voortgang en stopt daarna (0: ontvangen, 1: mislukt).\n"
        "      Ontvangen bestanden verschijnen als: Bestand ontvangen: PAD\n"
        "  velmarin view --device NAAM-OF-ID [--seconds N] [--record BESTAND]\n"
        "      Verbindt met een opgeslagen apparaat met het bewaarde wachtwoord.\n"
        "  velmarin view ID WACHTWOORD --window [--fullscreen] [--seconds N]\n"
        "  velmarin view --device NAAM-OF-ID --window [--fullscreen] [--seconds N]\n"
        "      Toont de host in het programmavenster, met --fullscreen schermvullend\n"
        "      zodra de verbinding staat. Stopt met 0 als de sessie eindigt (venster\n"
        "      gesloten, host gestopt) en met 1 en de foutmelding als verbinden mislukt.\n"
        "  velmarin devices list\n"
        "      Toont de opgeslagen apparaten, of ze online zijn en de laatste verbinding.\n"
        "  velmarin devices add NAAM ID [--password-file BESTAND] [--note TEKST]\n"
        "      Bewaart een apparaat; het wachtwoord komt uit BESTAND of standaardinvoer.\n"
        "  velmarin devices rename NAAM-OF-ID NIEUWE-NAAM\n"
        "  velmarin devices remove NAAM-OF-ID\n");
}

} // namespace velmarin
