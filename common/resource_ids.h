// Numbers shared by the executable, its language library and the code:
// command ids (menu, toolbar, accelerators), string ids, resource ids and
// control ids. Plain macros, because the resource compiler reads this file
// too; the C++ code includes it as it is (the portable search core as well,
// which names the search dialog's controls and messages from here).
#ifndef KSVW_COMMON_RESOURCE_IDS_H
#define KSVW_COMMON_RESOURCE_IDS_H

/* Commands: one number per command, the same in the menu, on the toolbar,
   in the accelerator tables and in WM_COMMAND. */
#define IDC_DOWNLOAD 1003
#define IDC_CANCEL_TRANSFER 1006
#define IDC_OPEN 1007
#define IDC_SEARCH 1008
#define IDC_SEARCH_UP 1009
#define IDC_SEARCH_DOWN 1010
#define IDC_KEY_EMULATOR 2000
#define IDC_CONNECTION_SETTINGS 2019
#define IDC_CONNECT 2104
#define IDC_DISCONNECT 2105
#define IDC_EXIT 2124
#define IDC_CONVERT 40010
#define IDC_ABOUT 40012
#define IDC_SAVE 40014
#define IDC_SHIFT_F 40017
#define IDC_DELTA_TIME 40018
/* The key emulator's frame. */
#define IDC_SHOW_MAIN_WINDOW 2040
#define IDC_COPY_SCREEN 2119
#define IDC_SAVE_SCREEN 2126
#define IDC_IMAGE_MODE_0 8121
#define IDC_IMAGE_MODE_1 8122
#define IDC_IMAGE_MODE_2 8123

/* Resources of the executable. */
#define IDI_MAIN 101
#define IDB_TOOLBAR 103
#define IDB_FRONT_PANEL 111
#define IDB_KEY_PICTURES 112
#define IDB_KEYEMU_TOOLBAR 116
#define IDA_SPARE_117 117
#define IDA_SPARE_118 118
#define IDI_KEY_EMULATOR 139
#define IDA_MAIN 140
#define IDA_KEY_EMULATOR 148

/* Resources of the language library. */
#define IDM_MAIN 111
#define IDD_DOWNLOAD 115
#define IDT_DOWNLOAD_STEP 1094
#define IDT_DOWNLOAD_PROGRESS 2273

/* Batch conversion dialog of the language library (its per-file bar is
   2273, like the download dialog's). The worker's file-done notice comes
   as WM_COMMAND 1024 with lParam 0. */
#define IDD_CONVERT 112
#define IDT_CVT_FOLDER 1008
#define IDT_CVT_FILES_LABEL 1010 /* greyed with the others during a batch */
#define IDT_CVT_SELECT_ALL 1011
#define IDT_CVT_SELECT_NONE 1012
#define IDT_CVT_CHANNELS 1013
#define IDT_CVT_CSV 1025
#define IDT_CVT_DELTA 1026
#define IDT_CVT_RAW_HEX 1030
#define IDT_CVT_FILES 1095
#define IDT_CVT_FILE_BAR 1097
#define IDT_CVT_RECORD_BAR 2273
#define IDT_CVT_BROWSE 40017
#define IDT_CVT_REFRESH 40018
#define IDC_CVT_FILE_DONE 1024
#define IDS_NOT_CONVERTIBLE 13026
#define IDS_CONVERT_CAPTION 20055

/* Strings of the language library. */
#define IDS_FONT 1
#define IDS_FONT_EXTRA 2
#define IDS_TIP_OPEN 5
#define IDS_TIP_SAVE 6
#define IDS_TIP_CONNECT 7
#define IDS_TIP_DISCONNECT 8
#define IDS_TIP_DOWNLOAD 9
#define IDS_TIP_SETTINGS 10
#define IDS_TIP_SEARCH 11
#define IDS_TIP_SEARCH_UP 12
#define IDS_TIP_SEARCH_DOWN 13
#define IDS_TIP_CONVERT 14
#define IDS_TIP_KEY_EMULATOR 15
#define IDS_TITLE 100
#define IDS_PARITY_NONE 261
#define IDS_PARITY_EVEN 262
#define IDS_PARITY_ODD 263
#define IDS_CONNECTED 287
#define IDS_CONNECTING 603
#define IDS_DISCONNECTING 604
#define IDS_STEP_1 2002
#define IDS_STEP_2 2004
#define IDS_STEP_3 2006
#define IDS_STEP_4 2008
#define IDS_HOST_NOT_FOUND 9012
#define IDS_LINK_LOST 9013
#define IDS_CONNECT_FAILED_CODE 9014
#define IDS_NO_ANSWER 9019
#define IDS_OPEN_ERROR_CAPTION 9034
#define IDS_NOT_A_CAPTURE 9036
#define IDS_CLOSE_WHILE_CONNECTED 9038
#define IDS_ANALYZER_BUSY 9061
#define IDS_VERSION_MISMATCH 9064
#define IDS_NO_OPTION_BOARD 9067
#define IDS_FLOW_NONE 20042
#define IDS_FLOW_HARDWARE 20043
#define IDS_OPEN_TITLE 20044
#define IDS_SAVE_TITLE 20045
#define IDS_CONNECT_ERROR_CODE 20046
#define IDS_DOWNLOAD_ERROR_CODE 20047
#define IDS_NOT_CONNECTED 20051
#define IDS_CAPTION 20057
/* The key emulator: frame caption, toolbar texts 19101..19106 (save, copy,
   image modes 0..2, main window); key tooltips are strings 20000..20035,
   the key ids themselves. */
#define IDS_KEYEMU_CAPTION 102
#define IDS_KEYEMU_TOOLBAR_FIRST 19101
#define IDS_KEYEMU_TOOLBAR_COUNT 6
/* What became of a save or a copy of the LCD image. */
#define IDS_IMAGE_SAVED 20150
#define IDS_IMAGE_COPIED 20151
#define IDS_IMAGE_SAVE_FAILED 20152
#define IDS_IMAGE_COPY_FAILED 20153

/* About dialog, connection settings dialog and its two pages. */
#define IDD_ABOUT 101
#define IDD_CONNECTION 102
#define IDD_CONNECTION_PAGE 119
#define IDD_FOLDER_PAGE 120
#define IDT_ABOUT_TEXT 2280
#define IDT_CONNECTION_TABS 1099
#define IDT_METHOD 40019
#define IDT_SERIAL_PORT 40020
#define IDT_SERIAL_PORT_LABEL 1104
#define IDT_HOST 2024
#define IDT_PORT 2025
#define IDT_CONTROL_PORT 2026
#define IDT_LAN_LABEL_1 1101 /* labels of the LAN edits: 1101..1103, 1105, 1106 */
#define IDT_LAN_LABEL_2 1102
#define IDT_LAN_LABEL_3 1103
#define IDT_LAN_LABEL_4 1105
#define IDT_LAN_LABEL_5 1106
#define IDT_BIT_RATE 2073
#define IDT_DATA_BITS 2048
#define IDT_PARITY 2049
#define IDT_FLOW 40026
#define IDT_SETTINGS_NOTE 2027 /* stored values the page did not understand */
#define IDT_FOLDER 1008
#define IDT_FOLDER_BROWSE 1010
#define IDS_ABOUT_TEXT 81
#define IDS_TAB_CONNECTION 242
#define IDS_TAB_FOLDER 244
#define IDS_METHOD_SERIAL 251
#define IDS_METHOD_LAN 253
#define IDS_SETTINGS_ERROR_CAPTION 291
#define IDS_NO_HOST 9002
#define IDS_INIT_FAILED 9003
#define IDS_NOT_UNDERSTOOD 20154
#define IDS_BAD_PORT 20155

/* Search dialog of the language library: the dialog, its five pages (by
   kind: TRIGGER, ERROR, DATA, TIME, EXT IN), their controls and messages.
   Controls numbered in a run are given by their first id. */
#define IDD_SEARCH 105
#define IDD_SEARCH_DATA 106
#define IDD_SEARCH_TRIGGER 107
#define IDD_SEARCH_ERROR 108
#define IDD_SEARCH_TIME 109
#define IDD_SEARCH_EXT_IN 110
#define IDT_SEARCH_TABS 1000
#define IDT_SEARCH_FIRST 1081 /* radio: select the first match */
#define IDT_SEARCH_COUNT 2014 /* radio: count the matches */
#define IDT_SEARCH_UP 1083    /* button of dialog 105 (1083 is also a DATA page bit) */
#define IDT_ERROR_BOX_1 1025  /* check boxes 1025..1029 */
#define IDT_EXT_IN_LEVEL 1013
#define IDT_DATA_CHANNEL 1080
#define IDT_DATA_FRAME_KIND 1092
#define IDT_ID_BIT_28 1037    /* bits 28..26: 1037..1039 */
#define IDT_ID_BIT_25 1041    /* bits 25..0: 1041..1066 */
#define IDT_DATA_BYTE_0 1067  /* D0..D7: 1067..1074 */
#define IDT_TIME_MINUTES 1075 /* then seconds 1076, hundredths 1077 */
#define IDT_PATTERN_W0 1083   /* bits 7..0: 1083..1090 */
#define IDT_PATTERN_W1 1099   /* 1099..1106 */
#define IDT_PATTERN_W2 1107   /* 1107..1114 */
#define IDS_NOTHING_FOUND 20036
#define IDS_SEARCH_RESULT_CAPTION 20037
#define IDS_SEARCH_COUNT_FORMAT 20038
#define IDS_DATA_BYTE_ERROR 20048
#define IDS_TIME_ERROR 20049
#define IDS_BIT_ERROR 20056

/* Signals: View > Signal Database... (command 40201, dialog 201 of the
   language library) and the signals pane below the capture list (heading
   and list, child controls 2210 and 2211 of the main window). Strings
   20200..20249; the pane's column titles are 20210..20214. */
#define IDC_SIGNAL_DATABASE 40201
#define IDD_SIGNAL_DATABASE 201
#define IDT_DBC_CH1 2201
#define IDT_DBC_BROWSE_CH1 2202
#define IDT_DBC_CH2 2203
#define IDT_DBC_BROWSE_CH2 2204
#define IDT_SIGNAL_PANE_HEADING 2210
#define IDT_SIGNAL_PANE_LIST 2211
#define IDS_SIGNALS_CAPTION 20200
#define IDS_SIGNALS_LOAD_FAILED 20201
#define IDS_SIGNALS_START_FAILED 20202
#define IDS_SIGNALS_NOT_SAVED 20203
#define IDS_SIGNALS_OPEN_TITLE 20204
#define IDS_SIGNALS_NO_ROW 20205
#define IDS_SIGNALS_NOT_DECODED 20206
#define IDS_SIGNALS_NO_DATABASE 20207
#define IDS_SIGNALS_NOT_IN_DATABASE 20208
#define IDS_SIGNALS_BEYOND 20209
#define IDS_SIGNALS_COLUMN_FIRST 20210 /* Signal, Value, Unit, Label, Raw */

#endif
