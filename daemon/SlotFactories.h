#pragma once
// Start-up's slot factories.

// Builds every slot factory once (later calls do nothing). Each new factory goes to the head
// of the factory list, so a "create" asks them in reverse order of construction: HDLC first,
// then the radio, media and signalling factories, the trunk factories last (trunk 0 at the
// very end).
void CreateSlotFactories();
