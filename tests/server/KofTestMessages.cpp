#include "tests/server/KofTestMessages.h"

#include <array>

namespace kof::testserver {
namespace {

struct TMessage {
  const char* Key;
  std::array<const char*, 4> Text;  // en, cs, de, fr
};

// "{0}" and "{1}" are filled by the client from the message parameters.
const TMessage kMessages[] = {
    {"login.failed", {"Login failed", "Přihlášení selhalo", "Anmeldung fehlgeschlagen", "Échec de la connexion"}},
    {"AccessCodeValidator.missing",
     {"Access code is missing", "Chybí přístupový kód", "Zugangscode fehlt", "Code d'accès manquant"}},
    {"AccessCodeValidator.invalid.password",
     {"Invalid access code", "Neplatný přístupový kód", "Ungültiger Zugangscode", "Code d'accès non valide"}},
    {"AccessCode.banned",
     {"Access code is blocked after too many attempts", "Přístupový kód je zablokován po příliš mnoha pokusech",
      "Zugangscode nach zu vielen Versuchen gesperrt", "Code d'accès bloqué après trop de tentatives"}},
    {"err.secondfactor.invalid",
     {"Invalid verification code", "Neplatný ověřovací kód", "Ungültiger Bestätigungscode",
      "Code de vérification non valide"}},
    {"err.secondfactor.required",
     {"Second factor verification is required", "Je vyžadováno ověření druhým faktorem",
      "Überprüfung mit zweitem Faktor erforderlich", "La vérification du second facteur est requise"}},
    {"err.secondfactor.notConfigured",
     {"Second factor is not configured", "Druhý faktor není nastaven", "Zweiter Faktor ist nicht eingerichtet",
      "Le second facteur n'est pas configuré"}},
    {"err.accesscode.mismatch",
     {"Access codes do not match", "Přístupové kódy se neshodují", "Zugangscodes stimmen nicht überein",
      "Les codes d'accès ne correspondent pas"}},
    {"err.accesscode.tooShort",
     {"Access code must have at least {0} characters", "Přístupový kód musí mít alespoň {0} znaků",
      "Zugangscode muss mindestens {0} Zeichen haben", "Le code d'accès doit comporter au moins {0} caractères"}},
    {"err.password.mismatch",
     {"Passwords do not match", "Hesla se neshodují", "Passwörter stimmen nicht überein",
      "Les mots de passe ne correspondent pas"}},
    {"err.box.notFound",
     {"Safe box {0} not found", "Trezor {0} nenalezen", "Tresor {0} nicht gefunden", "Coffre {0} introuvable"}},
    {"err.record.notFound",
     {"Record {0} not found", "Záznam {0} nenalezen", "Eintrag {0} nicht gefunden", "Enregistrement {0} introuvable"}},
    {"err.item.notFound",
     {"Deleted item {0} not found", "Smazaná položka {0} nenalezena", "Gelöschtes Element {0} nicht gefunden",
      "Élément supprimé {0} introuvable"}},
    {"err.record.kind",
     {"Record {0} has no password", "Záznam {0} nemá heslo", "Eintrag {0} hat kein Passwort",
      "L'enregistrement {0} n'a pas de mot de passe"}},
    {"err.access.denied",
     {"You are not allowed to {0} in safe box {1}", "Nemáte oprávnění {0} v trezoru {1}",
      "Keine Berechtigung für {0} im Tresor {1}", "Vous n'êtes pas autorisé à {0} dans le coffre {1}"}},
    {"err.box.notEmpty",
     {"Safe box group {0} is not empty", "Skupina trezorů {0} není prázdná", "Tresorgruppe {0} ist nicht leer",
      "Le groupe de coffres {0} n'est pas vide"}},
    {"err.box.notGroup",
     {"Safe box {0} cannot contain safe boxes", "Trezor {0} nemůže obsahovat trezory",
      "Tresor {0} kann keine Tresore enthalten", "Le coffre {0} ne peut pas contenir de coffres"}},
    {"err.parent.deleted",
     {"The safe box of {0} is deleted", "Trezor položky {0} je smazán", "Der Tresor von {0} ist gelöscht",
      "Le coffre de {0} est supprimé"}},
    {"err.file.tooLarge",
     {"File is larger than the limit of {0} bytes", "Soubor je větší než limit {0} bajtů",
      "Datei ist größer als die Grenze von {0} Bytes", "Le fichier dépasse la limite de {0} octets"}},
    {"record.duplicate",
     {"A record named {0} exists in this safe box", "Záznam {0} v tomto trezoru již existuje",
      "Ein Eintrag {0} existiert in diesem Tresor", "Un enregistrement {0} existe dans ce coffre"}},
    {"safebox.duplicate",
     {"A safe box named {0} exists here", "Trezor {0} zde již existuje", "Ein Tresor {0} existiert hier",
      "Un coffre {0} existe ici"}},
    {"safebox.delete.hasexternalfiles",
     {"Safe box {0} holds external files", "Trezor {0} obsahuje externí soubory",
      "Tresor {0} enthält externe Dateien", "Le coffre {0} contient des fichiers externes"}},
    {"err.file.noFile",
     {"Record {0} has no file", "Záznam {0} nemá soubor", "Eintrag {0} hat keine Datei",
      "L'enregistrement {0} n'a pas de fichier"}},
    {"err.invitation.invalid",
     {"Invitation is not valid", "Pozvánka není platná", "Einladung ist ungültig", "L'invitation n'est pas valide"}},
    {"err.request.invalid",
     {"Invalid request: {0}", "Neplatný požadavek: {0}", "Ungültige Anfrage: {0}", "Requête non valide : {0}"}},
    {"err.password.tooShort",
     {"Password must have at least {0} characters", "Heslo musí mít alespoň {0} znaků",
      "Passwort muss mindestens {0} Zeichen haben", "Le mot de passe doit comporter au moins {0} caractères"}},
    {"err.station.notFound",
     {"Station {0} not found", "Stanice {0} nenalezena", "Station {0} nicht gefunden", "Station {0} introuvable"}},
    {"err.config.notFound",
     {"Agent configuration {0} not found", "Konfigurace agenta {0} nenalezena",
      "Agentenkonfiguration {0} nicht gefunden", "Configuration d'agent {0} introuvable"}},
    {"password.crack.instant", {"instantly", "okamžitě", "sofort", "instantanément"}},
    {"password.crack.seconds", {"{0} seconds", "{0} sekund", "{0} Sekunden", "{0} secondes"}},
    {"password.crack.minutes", {"{0} minutes", "{0} minut", "{0} Minuten", "{0} minutes"}},
    {"password.crack.hours", {"{0} hours", "{0} hodin", "{0} Stunden", "{0} heures"}},
    {"password.crack.days", {"{0} days", "{0} dní", "{0} Tage", "{0} jours"}},
    {"password.crack.years", {"{0} years", "{0} let", "{0} Jahre", "{0} ans"}},
    {"password.crack.centuries", {"centuries", "staletí", "Jahrhunderte", "des siècles"}},
    {"err.decrypt",
     {"Encrypted data cannot be read", "Šifrovaná data nelze přečíst", "Verschlüsselte Daten sind nicht lesbar",
      "Les données chiffrées sont illisibles"}},
};

std::optional<std::size_t> LanguageIndex(std::string_view language) {
  static constexpr std::array<std::string_view, 4> kCodes = {"en", "cs", "de", "fr"};
  for (std::size_t i = 0; i < kCodes.size(); ++i) {
    if (kCodes[i] == language) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> MessageCatalogue(std::string_view language) {
  auto index = LanguageIndex(language);
  if (!index) return std::nullopt;
  nlohmann::ordered_json ordered = nlohmann::ordered_json::object();
  for (const auto& message : kMessages) ordered[message.Key] = message.Text[*index];
  return ordered.dump();
}

}  // namespace kof::testserver
