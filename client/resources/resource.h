// Resource ids shared by the resource scripts and the code: the tray menu,
// its commands and the icons.
#pragma once

// Icons the installer's shortcuts pick by index: program, uninstall, settings.
#define IDI_PROGRAM 1
#define IDI_UNINSTALL 2
#define IDI_SETTINGS 3

// Tray icons: offline, normal, and the six animation frames (frame 0 first).
#define IDI_OFFLINE 103
#define IDI_NORMAL 104
#define IDI_FRAME0 105
#define IDI_FRAME5 110

// The tray's popup menu and its commands.
#define IDR_TRAYMENU 501
#define IDM_BLOCKFLASH 200
#define IDM_BLOCKACTIVEX 201
#define IDM_BLOCKBANNERS 202
#define IDM_GRAPHLOW 203
#define IDM_GRAPHMEDIUM 204
#define IDM_GRAPHHIGH 205
#define IDM_SHOWWINDOW 206
#define IDM_EXITPROGRAM 207
#define IDM_COMPRESSOFF 208
