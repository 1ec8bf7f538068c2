#pragma once

// State of one of the 61 keys of the tone-wheel organ.
struct TonewheelKey
{
};
