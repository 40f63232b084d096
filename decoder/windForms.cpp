#include "windForms.h"

#include "ElementForms.h"

#include <cmath>

namespace windForms {

namespace {
const double DEGREES = 180.0 / 3.14159265358979323846;
}

bool components(double direction, double speed, double& u, double& v)
{
    u = v = MISSING;
    if (!ElementForms::given(direction) || !ElementForms::given(speed) || direction < 0.0 ||
        direction > 360.0 || speed < 0.0)
        return false;
    if (speed == 0.0) {
        u = v = 0.0;
        return true;
    }
    const double radians = direction / DEGREES;
    u = -speed * std::sin(radians);
    v = -speed * std::cos(radians);
    return true;
}

bool directionSpeed(double u, double v, double& direction, double& speed)
{
    direction = speed = MISSING;
    if (!ElementForms::given(u) || !ElementForms::given(v))
        return false;
    speed = std::hypot(u, v);
    if (speed == 0.0) {
        direction = 0.0;
        return true;
    }
    // The direction the wind comes from: opposite to where it blows.
    direction = std::atan2(-u, -v) * DEGREES;
    if (direction <= 0.0)
        direction += 360.0;
    return true;
}

}
