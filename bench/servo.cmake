# Servo bus pass period against its floor, on six simulated servos at 1 Mbaud.
arm_add_bench(servo_bus_bench SOURCES servo_bus_bench.cpp LIBS arm_motor servo_sim)
