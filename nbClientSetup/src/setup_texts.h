// Texts and names of the installer, UTF-8 at run time like every text and
// path it holds; they reach Windows only through the wide (W) calls.
#pragma once

inline constexpr char kWindowTitle[] = "Установка интернет ускорителя - Nimbrel Client v0.72";
inline constexpr char kHeading[] = "Установка интернет ускорителя Nimbrel Client v0.72";
inline constexpr char kDescriptionFrame[] = "Описание";
inline constexpr char kDescription[] =
    "Nimbrel Client - интернет ускоритель, который сжимает трафик. Страницы и файлы "
    "сжимаются по пути к вашему компьютеру, поэтому расходы на Интернет снижаются в "
    "2-5 раз, а загрузка идёт быстрее.";
inline constexpr char kFolderLabel[] = "Папка установки:";
inline constexpr char kInstallCaption[] = "Установить";
inline constexpr char kDoneCaption[] = "OK";
inline constexpr char kCancelCaption[] = "Отмена";
inline constexpr char kBrowseCaption[] = ">>";
inline constexpr char kBrowseTitle[] = "Выберите директорию для установки";
inline constexpr char kSiteUrl[] = "http://nimbrel.example/";
inline constexpr char kCannotCreateFolder[] = "Невозможно создать папку: ";
inline constexpr char kAskConfigureIE[] =
    "Настроить автоматически Internet Explorer для работы с Nimbrel Client?";
inline constexpr char kStepsFailed[] =
    "Установка завершена, но следующие шаги выполнить не удалось:";

// Names of install steps in the closing failure list; a file, shortcut or
// value name follows where the step has one.
inline constexpr char kFailedFile[] = "запись файла ";
inline constexpr char kFailedFolder[] = "создание папки ";
inline constexpr char kFailedShortcut[] = "создание ярлыка ";
inline constexpr char kFailedScript[] = "запись сценария удаления ";
inline constexpr char kFailedAutostart[] = "запись автозапуска";
inline constexpr char kFailedCompat[] = "запись режима совместимости";
inline constexpr char kFailedIE[] = "настройка Internet Explorer: ";
inline constexpr char kFailedStart[] = "запуск NimbrelClient.exe";

// Start-menu shortcut names (relative to the all-users programs folder).
inline constexpr char kLinkClient[] = "Nimbrel\\NimbrelClient.lnk";
// The settings console is an Internet shortcut; earlier installations made a
// .lnk of that name, which a reinstallation removes.
inline constexpr char kLinkSettings[] = "Nimbrel\\Настройка.url";
inline constexpr char kLinkSettingsOld[] = "Nimbrel\\Настройка.lnk";
inline constexpr char kLinkHelp[] = "Nimbrel\\Справка.lnk";
inline constexpr char kLinkUninstall[] = "Nimbrel\\Удалить.lnk";
inline constexpr char kLinkDesktop[] = "NimbrelClient.lnk";

// The uninstall script's texts.
inline constexpr char kUninstallQuestion[] = "Удалить Nimbrel Client?";
inline constexpr char kUninstallCloseNote[] =
    "Пожалуйста закройте программу Nimbrel Client для корректного удаления.";
inline constexpr char kUninstallQuestionTitle[] = "Подтверждение";
inline constexpr char kUninstallDone[] = "Удаление завершено";
inline constexpr char kUninstallLeft[] = "Не удалось удалить:";

// What the installer writes outside its folder.
inline constexpr char kClientExe[] = "NimbrelClient.exe";
inline constexpr char kRunKeyPath[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValueName[] = "Nimbrel Client";
inline constexpr char kRunValuePath[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Nimbrel Client";
// Under HKEY_CURRENT_USER.
inline constexpr char kLayersKey[] =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
inline constexpr char kOwnKey[] = "Software\\Nimbrel";
