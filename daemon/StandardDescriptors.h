#pragma once
// Descriptors 0, 1 and 2 kept taken. A daemon may be started with some of them closed (an init
// script's "1>&-"); the next descriptor it opens would then take that number, and daemon mode,
// which puts the null device over all three, would silently replace a listener or an event
// set with it.

// Opens the null device on each of descriptors 0, 1 and 2 that is closed (read side for 0,
// write side for the others); the open ones are left as they are. False, with errno set, when
// the null device cannot be opened.
bool OpenStandardDescriptors();
