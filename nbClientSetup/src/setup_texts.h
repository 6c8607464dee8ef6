// Texts of the installer. The sources are UTF-8; the installer and its tests
// are compiled with a Windows-1251 execution character set, so at run time
// every text below is Windows-1251 bytes.
#pragma once

inline constexpr char kWindowTitle[] = "Установка интернет ускорителя  - Nimbrel Client v0.72";
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
inline constexpr char kBrowseTitle[] = "Выберете директорию для установки";
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
inline constexpr char kLinkSettings[] = "Nimbrel\\Настройка.lnk";
inline constexpr char kLinkHelp[] = "Nimbrel\\Справка.lnk";
inline constexpr char kLinkUninstall[] = "Nimbrel\\Удалить.lnk";
inline constexpr char kLinkDesktop[] = "NimbrelClient.lnk";
