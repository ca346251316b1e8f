#include "daemon/SlotFactories.h"

#include "radio/RtpED137Factory.h"
#include "radio/RtpLEMZFactory.h"
#include "slots/EchoFactory.h"
#include "slots/ExtFactory.h"
#include "slots/HdlcSlotFactory.h"
#include "slots/IsdnFactory.h"
#include "slots/MapFactory.h"
#include "slots/MccFactory.h"
#include "slots/MixerFactory.h"
#include "slots/ModemFactory.h"
#include "slots/PstnFactory.h"
#include "slots/RtpFactory.h"
#include "slots/T38SoftFactory.h"
#include "slots/TrunkFactory.h"
#include "slots/VoiceFactory.h"

void CreateSlotFactories() {
  TrunkFactory::BuildAll();
  static MapFactory mapFactory;
  static PstnFactory pstnFactory;
  static RtpFactory rtpFactory;
  static ModemFactory modemFactory;
  static Mixer::MixerFactory mixerFactory;
  static ExtFactory extFactory;
  static MccFactory mccFactory;
  static EchoFactory echoFactory;
  static VoiceFactory voiceFactory;
  static T38SoftFactory t38SoftFactory;
  static IsdnFactory isdnFactory;
  static RtpLEMZFactory rtpLEMZFactory;
  static RtpED137Factory rtpED137Factory;
  static HdlcSlotFactory hdlcSlotFactory;
}
