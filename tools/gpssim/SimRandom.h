#pragma once

#include <cstdint>
#include <random>

// Draws from mt19937 by hand: the standard fixes the engine's output but not that of its
// distributions, and the same seed must give the same stream with any standard library.
class SimRandom
{
public:
    explicit SimRandom(std::uint32_t seed) : m_engine(seed) {}

    // Uniform in [low, high).
    double Uniform(double low, double high)
    {
        return low + (high - low) * (static_cast<double>(m_engine()) / 4294967296.0);
    }
    // Uniform in [low, high], both ends included.
    int UniformInt(int low, int high)
    {
        const auto span = static_cast<std::uint32_t>(high - low) + 1u;
        return low + static_cast<int>(m_engine() % span);
    }
    bool Chance(double probability) { return Uniform(0.0, 1.0) < probability; }

private:
    std::mt19937 m_engine;
};
