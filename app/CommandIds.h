#pragma once

// The numeric identifiers of the main window's commands and panes. Each command
// is a QAction whose data() holds its identifier and whose object name is the
// identifier's name, so that tests and the pane and dialog code find it.

namespace app::cmd {

// The "Файл" menu.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_FILE_SAVE_AS = 57604;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_APP_ABOUT = 57664;

// "Каналы связи".
inline constexpr int IDC_CMB_ADDR_CL = 1079;
inline constexpr int IDC_BTN_START_CL = 1073;
inline constexpr int IDC_BTN_STOP_CL = 1074;
inline constexpr int IDC_BTN_SETTINGS_CL = 1084;
inline constexpr int IDC_BTN_SCHEMA = 1076;
inline constexpr int IDC_BTN_CC = 1139;
inline constexpr int ID_VIEW_CLIENT = 32855;
inline constexpr int ID_VIEW_EVENTS = 32856;

// "Эхо-запрос".
inline constexpr int IDC_CMB_ADDR_PING = 1080;
inline constexpr int IDC_BTN_START_PING = 1081;
inline constexpr int IDC_BTN_STOP_PING = 1082;
inline constexpr int ID_VIEW_SETTINGS_PING = 32858;

// "Маршрут".
inline constexpr int IDC_CMB_ADDR_TR = 1085;
inline constexpr int IDC_BTN_START_TR = 1086;
inline constexpr int IDC_BTN_STOP_TR = 1087;
inline constexpr int ID_VIEW_SETTINGS_TR = 32859;

// Panes (the dock's property "paneId").
inline constexpr int PANE_CLIENT = 32855;
inline constexpr int PANE_EVENTS = 32856;
inline constexpr int PANE_ECHO_TARGETS = 108;
inline constexpr int PANE_ECHO_SETTINGS = 32858;
inline constexpr int PANE_ROUTE_TARGETS = 109;
inline constexpr int PANE_ROUTE_SETTINGS = 32859;
inline constexpr int PANE_SERVER = 32855; // inside the channel view

} // namespace app::cmd
