#include "tools/gpssim/ReceiverSimulator.h"

#include "tools/gpssim/FamilyTalk.h"
#include "tools/gpssim/SimUbx.h"

#include <algorithm>

namespace
{

// The sentence type, with the message number for GSV, so that a slow line can share its
// capacity between kinds of sentence.
std::string SentenceKey(const std::string& sentence)
{
    std::string key = sentence.substr(1, 5);
    if (key.ends_with("GSV"))
    {
        const auto second = sentence.find(',', sentence.find(',') + 1);
        key += sentence.substr(second + 1, sentence.find(',', second + 1) - second - 1);
    }
    else if (key == "GNGSA")
    {
        // One per system: its id is the last field.
        const auto star = sentence.find('*');
        key += sentence.substr(sentence.rfind(',', star) + 1, star - sentence.rfind(',', star) - 1);
    }
    return key;
}

} // namespace

std::size_t ReceiverSimulator::LineBudget(int baud)
{
    return static_cast<std::size_t>(baud / 10.0 * kLineShare);
}

ReceiverSimulator::ReceiverSimulator(const SimConfig& config)
    : m_dialect(config.gnss ? Dialect::Gnss : Dialect::Gps), m_family(config.family), m_bBanner(config.banner), m_bUbx(config.ubx),
      m_model(config),
      m_corrections(config.seed),
      // Each cycle of a second has its share of the line.
      m_nBudget(LineBudget(config.baud) / static_cast<std::size_t>(std::max(1, config.cyclesPerSecond)))
{
}

void ReceiverSimulator::Restart(RestartKind kind, std::chrono::system_clock::time_point at)
{
    m_model.Restart(kind, at);
    if (m_family)
        m_afterRestart = family_talk::AfterRestart(*m_family);
}

std::string ReceiverSimulator::Greeting() const
{
    std::string bytes;
    if (m_family && m_bBanner)
        for (const std::string& sentence : family_talk::Banner(*m_family))
            bytes += sentence;
    return bytes;
}

std::string ReceiverSimulator::Answer(std::string_view message)
{
    if (!m_family)
        return {};
    // CFG-MSG: class, id, rate.
    constexpr char kNavPvtOn[] = {'\xB5', 0x62, 0x06, 0x01, 3, 0, 0x01, 0x07};
    if (*m_family == ReceiverFamily::UBlox && message.size() == 6 + 3 + 2 &&
        message.starts_with(std::string_view(kNavPvtOn, sizeof kNavPvtOn)) && message[8] != 0)
        m_bUbx = true;
    return family_talk::Answer(*m_family, message);
}

SimCycle ReceiverSimulator::Step(std::chrono::system_clock::time_point utc)
{
    const auto second = std::chrono::floor<std::chrono::seconds>(utc);
    if (m_lastSecond && *m_lastSecond == second)
    {
        SimCycle cycle;
        cycle.state = m_lastState;
        cycle.state.utc = utc;
        if (!cycle.state.silent)
            SendState(cycle);
        return cycle;
    }
    m_lastSecond = second;
    SimCycle cycle = StepSecond(utc);
    m_lastState = cycle.state;
    return cycle;
}

SimCycle ReceiverSimulator::StepSecond(std::chrono::system_clock::time_point utc)
{
    SimCycle cycle;
    cycle.state = m_model.Advance(utc);
    m_corrections.Apply(cycle.state, utc);
    cycle.state.utc = utc;
    if (cycle.state.silent)
    {
        for (auto& [key, age] : m_ages)
            ++age;
        return cycle;
    }
    SendState(cycle);
    if (!m_afterRestart.empty())
    {
        cycle.sentences.insert(cycle.sentences.begin(), m_afterRestart.begin(), m_afterRestart.end());
        m_afterRestart.clear();
    }
    return cycle;
}

void ReceiverSimulator::SendState(SimCycle& cycle)
{
    const std::vector<std::string> all = CycleSentences(cycle.state, m_dialect);
    std::vector<std::string> frames;
    std::size_t frameBytes = 0;
    if (m_bUbx)
    {
        frames = UbxCycleFrames(cycle.state);
        for (const std::string& frame : frames)
            frameBytes += frame.size();
    }
    cycle.sentences = FitToLine(all, frameBytes);
    cycle.droppedSentences = all.size() - cycle.sentences.size();
    cycle.sentences.insert(cycle.sentences.end(), frames.begin(), frames.end());
}

std::vector<std::string> ReceiverSimulator::FitToLine(const std::vector<std::string>& sentences, std::size_t reserved)
{
    // The kinds waiting longest go first; what does not fit this second waits for the next.
    std::vector<std::size_t> order(sentences.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::vector<std::string> keys;
    for (const std::string& sentence : sentences)
        keys.push_back(SentenceKey(sentence));
    const auto age = [&](std::size_t i)
    {
        const auto it = m_ages.find(keys[i]);
        return it == m_ages.end() ? 1 << 20 : it->second;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return age(a) > age(b); });

    std::vector<bool> chosen(sentences.size(), false);
    std::size_t budget = m_nBudget > reserved ? m_nBudget - reserved : 0;
    for (const std::size_t i : order)
    {
        if (sentences[i].size() <= budget)
        {
            chosen[i] = true;
            budget -= sentences[i].size();
        }
    }
    for (auto& [key, value] : m_ages)
        ++value;
    std::vector<std::string> fitted;
    for (std::size_t i = 0; i < sentences.size(); ++i)
    {
        if (chosen[i])
        {
            fitted.push_back(sentences[i]);
            m_ages[keys[i]] = 0;
        }
        else
        {
            m_ages.try_emplace(keys[i], 1 << 20);
        }
    }
    return fitted;
}
