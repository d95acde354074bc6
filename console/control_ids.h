// Control identifiers of the settings bar and of the password-change dialog.
#pragma once

namespace kbc::idc {

// Settings bar.
inline constexpr int password = 1009;
inline constexpr int verify = 1012;
inline constexpr int change_password = 1019;
inline constexpr int erase = 1052;
inline constexpr int msdc = 1016;
inline constexpr int video_list = 1060;
inline constexpr int video = 1026;
inline constexpr int segment_list = 1075;
inline constexpr int segment = 1076;
inline constexpr int photo_list = 1077;
inline constexpr int photo = 1078;
inline constexpr int ir_list = 1140;
inline constexpr int ir = 1141;
inline constexpr int screen_off_list = 1096;
inline constexpr int screen_off = 1095;
inline constexpr int voice_list = 1142;
inline constexpr int voice = 1143;
inline constexpr int brightness_list = 1093;
inline constexpr int brightness = 1092;
inline constexpr int motion_list = 1148;
inline constexpr int motion = 1145;
inline constexpr int unit_number_field = 1113;
inline constexpr int unit_number = 1112;
inline constexpr int unit_name_field = 1110;
inline constexpr int unit_name = 1111;
inline constexpr int device_info = 1114;
inline constexpr int user_number_field = 1108;
inline constexpr int user_number = 1109;
inline constexpr int user_name_field = 1105;
inline constexpr int user_name = 1107;

// Password-change dialog.
inline constexpr int old_password = 1021;
inline constexpr int new_password = 1022;
inline constexpr int confirm_password = 1023;
inline constexpr int confirm_super = 1102;
inline constexpr int confirm_normal = 1159;
inline constexpr int ok = 1;
inline constexpr int cancel = 2;
inline constexpr int super_hint = 1161;

}  // namespace kbc::idc
