// Resource and control ids. The numbers are fixed: other programs (and the operators' own
// automation) find the windows and controls by them. Several dialogs reuse a number for
// different controls, so each dialog has its own names.
#pragma once

#define IDI_APP 2000

// Dialog templates
#define IDD_PLAN_DESK 2010
#define IDD_CLEAR_RULE 2011
#define IDD_RUN_TIME 2012
#define IDD_LOGIN 2013
#define IDD_BACKUP_RULE 2014
#define IDD_RESTORE 2015
#define IDD_CLEAR_PREVIEW 2016

// Popup menus and their commands
#define IDR_CLEAR_MENU 2001
#define IDR_BACKUP_MENU 2002
#define IDM_NEW_CLEAR_RULE 2003
#define IDM_EDIT_CLEAR_RULE 2004
#define IDM_DELETE_RULES 2005
#define IDM_MANUAL_RUN 2006
#define IDM_TOGGLE_RULES 2007
#define IDM_NEW_BACKUP_RULE 2008
#define IDM_EDIT_BACKUP_RULE 2009
#define IDR_TRAY_MENU 2017
#define IDM_TRAY_OPEN 2032
#define IDM_TRAY_EXIT 2033
#define IDM_CLEAR_PREVIEW 2030
#define IDM_VERIFY_BACKUP 2031

// Items added to the main window's system menu (multiples of 16 below 0xF000)
#define IDM_SYS_AUTOSTART 0x0850
#define IDM_SYS_CLOSE_TO_TRAY 0x0860

// Main window (2010)
#define IDC_LOG_LIST 2020
#define IDC_CLEAR_LIST 2021
#define IDC_BACKUP_LIST 2022
#define IDC_AUTO_RUN 2023
#define IDC_STOP_RUN 2024
#define IDC_MANUAL_RESTORE 2025
#define IDC_MANUAL_BACKUP 3040

// Login (2013)
#define IDC_LOGIN_USER 3001
#define IDC_LOGIN_PASSWORD 3002
#define IDC_LOGIN_BUTTON 3003

// Schedule panel (2012)
#define IDC_MODE_INTERVAL 3020
#define IDC_MODE_DAILY 3021
#define IDC_MODE_WEEKLY 3022
#define IDC_MODE_MONTHLY 3023
#define IDC_WEEKDAY_FIRST 3024  // 3024 Monday .. 3030 Sunday
#define IDC_WEEKDAY_LAST 3030
#define IDC_TIME_LABEL 3031
#define IDC_HOUR_LABEL 3032
#define IDC_MINUTE_LABEL 3033
#define IDC_INTERVAL_LABEL 3034
#define IDC_DAY_LABEL 3035
#define IDC_HOUR 3036
#define IDC_MINUTE 3037
#define IDC_INTERVAL 3038
#define IDC_DAY 3039

// Shared by both rule editors (2011, 2014)
#define IDC_PANEL_PLACEHOLDER 3005
#define IDC_DESCRIPTION 3006
#define IDC_KEEP_DAYS 3010
#define IDC_PICK_PATH 3004  // "..." of the watched path

// Backup-rule editor (2014)
#define IDC_BACKUP_SOURCE 1038
#define IDC_BACKUP_TARGET 3009
#define IDC_PICK_BACKUP_TARGET 3007
#define IDC_SOURCE_IS_FOLDER 1039
#define IDC_SOURCE_IS_FILE 1040

// Clean-rule editor (2011)
#define IDC_CLEAR_PATH 3008
#define IDC_FREE_SPACE_CHECK 3009
#define IDC_FREE_SPACE_PERCENT 3007
#define IDC_NAME_FILTER 3011
#define IDC_MIN_SIZE 3012
#define IDC_MAX_SIZE 3013
#define IDC_START_DATE 3014
#define IDC_END_DATE 3015
#define IDC_START_HOUR 3016
#define IDC_END_HOUR 3017
#define IDC_START_MINUTE 3018
#define IDC_END_MINUTE 3019

// Manual backup and restore (2015)
#define IDC_RESTORE_FILE 1038
#define IDC_PICK_RESTORE_FILE 3004
#define IDC_RESTORE_FOLDER 3009
#define IDC_PICK_RESTORE_FOLDER 3007
#define IDC_RESTORE_BACKUP 3040

// Clean preview (2016)
#define IDC_PREVIEW_SUMMARY 3041
#define IDC_PREVIEW_LIST 3042
#define IDC_PREVIEW_EXPORT 3043
#define IDC_PREVIEW_CLEAN 3044
