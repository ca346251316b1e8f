#pragma once
// The connection model: the output of one slot feeds the inputs of any number of sinks; a
// sink has at most one source. Connect and Disconnect keep the logical links, ask the slots
// for their streams and let the side with the higher connection priority make the hardware
// path (llConnect, llDisconnect); the default path goes through the TDM switch.
class Slot;

// Connects the output of src to the input of dst (dst leaves an earlier source). True only
// when the path is there: a connect of a pair connected already makes a lost path again.
bool Connect(Slot& src, Slot& dst);
// Takes dst off its source; true also when it had none. The slots part even when the hardware
// refused (the answer is then false): a switch route that stands is taken down later by the
// route book, the switch model keeping the takedown owed. The controller's disconnect too.
bool Disconnect(Slot& dst);

// The hardware halves, each made by the side with the higher priority (the sink on a tie).
bool llConnect(Slot& src, Slot& dst);
bool llDisconnect(Slot& dst);

// The default hardware path: src's transmit channel switched onto dst's receive channel; a
// connection is named by the receiving side's channel. The receive channel may be shared with
// other live slots (SwitchUsers): it carries the newest of their routes.
bool MuxConnect(Slot& src, Slot& dst);
bool MuxDisconnect(Slot& dst);

// Takes off every sink that src had when called; false when the list ran empty early.
bool DisconnectSinks(Slot& src);
