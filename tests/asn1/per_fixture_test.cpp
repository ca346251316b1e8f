// Aligned PER vectors made by an independent codec (tools/erlang/gen_per_vectors.escript)
// against the decoder, the encoder and their reviewed value-notation texts.
#include "tests/asn1/ProbeSchema.h"
#include "tests/asn1_text/Golden.h"

#include <gtest/gtest.h>

TEST(PerFixture, IndependentCodecVectorsMatchBothWays)
{
    // The bitmap of message-added1 also holds the cleared bit of added2, which no text says.
    golden::checkVectors("per_vectors.txt", "per_vectors.avn", ASN1::CoderEnv::per, 19,
                         {{"Numbers", &Probe::Numbers::theInfo},
                          {"Texts", &Probe::Texts::theInfo},
                          {"Lists", &Probe::Lists::theInfo},
                          {"Message", &Probe::Message::theInfo}},
                         "message-added1");
}
