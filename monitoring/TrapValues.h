#pragma once
// Values that an SNMP trap carries besides its payload: the uptime for sysUpTime.0 and object
// identifiers written as dotted text. Plain functions, no SNMP library needed.
#include <cstdint>

// The time since the system started, in hundredths of a second (TimeTicks; wraps after
// 497 days). Taken from one monotonic clock that counts suspended time as the system's uptime
// does, so that successive values never go backwards.
uint32_t get_uptime();

// Splits dotted text such as "1.3.6.1.2.1.1.3.0" into at most `capacity` components and
// returns how many were stored; 0 for a null array or text or a capacity below 1. Only the
// first 127 characters are read; runs of dots give no empty component; each piece is read as
// a decimal number, a piece that is none giving 0 and trailing characters being ignored.
int parse_oid(uint32_t* out, int capacity, const char* text);
