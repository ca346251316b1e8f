#pragma once
// The paths of the board's shared driver devices, named in one place.

const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetModemDevName();
const char* GetMaintenance();
