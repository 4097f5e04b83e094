#pragma once

// PWM channels through the kernel's sysfs class "/sys/class/pwm". Channels
// are numbered from 0 (a real channel). Results are 0 or a negative errno;
// -EEXIST means the channel is not exported (its attribute is missing).

int pwm_export(unsigned int channel);
int pwm_unexport(unsigned int channel);
// 0 or 1.
int pwm_enable(unsigned int channel, unsigned int on);
int pwm_set_period(unsigned int channel, int value);
int pwm_set_duty_cycle(unsigned int channel, int value);
