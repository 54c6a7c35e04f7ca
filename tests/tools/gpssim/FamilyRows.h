#pragma once

#include "receiver/ReceiverFamily.h"

#include <string>
#include <vector>

namespace simtest
{

// Each family's own version query, and the start of its answer.
struct QueryRow
{
    ReceiverFamily family;
    std::string query;
    std::string answerStart;
};

inline std::vector<QueryRow> QueryRows()
{
    return {
        {ReceiverFamily::SiRF, "$PSRF125*21\r\n", "$PSRFTXT,Version:GSW3"},
        {ReceiverFamily::UBlox, std::string("\xB5\x62\x0A\x04\x00\x00\x0E\x34", 8), std::string("\xB5\x62\x0A\x04\xBE\x00", 6)},
        {ReceiverFamily::MediaTek, "$PMTK605*31\r\n", "$PMTK705,AXN_3.8_3333_"},
        {ReceiverFamily::Airoha, "$PAIR021*39\r\n", "$PAIR001,021,0*"},
        {ReceiverFamily::Quectel, "$PQTMVERNO*58\r\n", "$PQTMVERNO,LG290P"},
        {ReceiverFamily::ST, "$PSTMGETSWVER*09\r\n", "$PSTMVER,GNSSLIB_"},
        {ReceiverFamily::CASIC, "$PCAS06,0*1B\r\n", "$GPTXT,01,01,02,SW=URANUS5"},
    };
}

} // namespace simtest
