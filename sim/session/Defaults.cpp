// The built-in scenario and drive script, as the files a user would write.
#include "session/Defaults.h"

namespace sim {

const char kDefaultScenarioLabel[] = "(built-in scenario)";
const char kDefaultScenario[] = R"(BEGIN_DESC
Sendra-1, a Sendra2016 rover, landed on the Moon at the Apollo 11 site for the built-in drive of sendra-sim. It is morning there, local solar time 07:41: the Sun stands 25 degrees above the eastern horizon.
END_DESC

BEGIN_ENVIRONMENT
  System Sol
  Date MJD 60003
END_ENVIRONMENT

BEGIN_FOCUS
  Ship Sendra-1
END_FOCUS

BEGIN_SHIPS
Sendra-1:Sendra2016
  STATUS Landed Moon
  POS 23.47 0.67
  HEADING 0
  AFCMODE 7
END
END_SHIPS
)";

const char kDefaultScriptLabel[] = "(built-in drive script)";
const char kDefaultScript[] = R"(# The built-in drive: about two minutes on the hills that use every control of the rover.
# Times in simulated seconds. Keypad 1 and 3, Orbiter's yaw keys, move the rudder (the scenario's
# AFCMODE 7 switches the rudder on); it needs 1 s to reach full deflection, and only full
# deflection steers.

# Open up: both doors and the sunscreen (0.1 of their travel a second), lights, first station.
0.5    tap 1            # left door
1.0    tap 2            # right door
1.5    tap J            # sunscreen
2.0    tap 7            # spot lights and beacons on
2.5    tap V            # camera station 0

# Forward gear, and keypad plus held: 0.01 m/s more every frame.
4.0    tap NUMPAD8
4.5    key ADD down
7.5    key ADD up       # 150 frames: 1.50 m/s

# A right turn at full rudder, then a left one at top speed.
12.0   key NUMPAD3 down # right
18.0   key NUMPAD3 up
20.0   tap V            # camera station 1
22.0   key ADD down
25.0   key ADD up       # held to the top speed of 2.78 m/s
28.0   key NUMPAD1 down # left
34.0   key NUMPAD1 up
36.0   tap V            # camera station 2

# The wheels swivel 18 degrees a second; the rover drives along them, then re-centres.
40.0   key 6 down
42.0   key 6 up         # 36 degrees to the right
46.0   tap 4            # back to straight, 0.005 of a turn per step
50.0   key 5 down
51.0   key 5 up         # 18 degrees to the left
54.0   tap 4

# Slower with keypad minus, coast in neutral, then back up in reverse while steering.
58.0   key SUBTRACT down
60.0   key SUBTRACT up  # 100 frames: 1.78 m/s
62.0   tap V            # camera station 3
64.0   tap NUMPAD5      # neutral: rolls on ahead, 0.01 m/s slower every step
70.0   tap NUMPAD2      # reverse
70.5   key ADD down
72.5   key ADD up       # 1.00 m/s backwards
76.0   key NUMPAD3 down
82.0   key NUMPAD3 up
84.0   tap NUMPAD5      # neutral: rolls on backwards until it stops

# Close up and finish with a short drive ahead.
90.0   tap 1
90.5   tap 2
91.0   tap J
100.0  tap V            # camera station 4, looking backwards
104.0  tap NUMPAD8
104.5  key ADD down
106.0  key ADD up       # 75 frames: 0.75 m/s
112.0  tap NUMPAD5
115.0  tap 7            # lights off; the run ends 5 s later
)";

}  // namespace sim
