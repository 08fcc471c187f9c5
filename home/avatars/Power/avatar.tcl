# Power: an electric wheelchair with a battery box, mid drive wheels, a joystick on the right
# armrest and a high backrest with headrest.
# Run with the avatar model /usr/share/scene/avmodel selected; every path here is below it.
new n3dnode base
base.setshape "power_base_batteries"
base.txyz 0 0.25 0
new n3dnode base/seat
base/seat.setshape "captain_seat"
base/seat.txyz 0 0.3 0
new n3dnode base/seat/headrest
base/seat/headrest.setshape "headrest"
base/seat/headrest.txyz 0 0.75 -0.25
new n3dnode base/seat/joystick
base/seat/joystick.setshape "joystick_right"
base/seat/joystick.txyz 0.3 0.25 0.2
new n3dnode wheel_left
wheel_left.setshape "drive_wheel_14in"
wheel_left.txyz -0.3 0.18 0
new n3dnode wheel_right
wheel_right.setshape "drive_wheel_14in"
wheel_right.txyz 0.3 0.18 0
wheel_right.rxyz 0 180 0
new n3dnode castors
castors.setshape "castor_set_front_rear"

# The shell's colour, set by the launcher from the chosen colour.
new nmaterialnode matlib/dynamic_color
matlib/dynamic_color.setdiffuse 0.6 0.6 0.6 1

# The driver's name above the chair, turned to face the camera.
new n3dnode labelnode
labelnode.txyz 0 1.9 0
new n3dnode labelnode/flip
labelnode/flip.rxyz 0 180 0
new zuwLabel labelnode/flip/label
