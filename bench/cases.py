"""The values every encoding measurement uses: the same value for us (a JSON document) and for
xknx (the Python value its transcoder takes), so both sides encode identical payloads."""

import json

# (identifier, our value document, xknx's value); xknx None where it has no transcoder.
SHARED = [
    ("1.001", "true", True),
    ("5.001", "75", 75),
    ("9.001", "21.5", 21.5),
    ("7.001", "4242", 4242),
    ("12.001", "123456", 123456),
    ("14.068", "21.25", 21.25),
    ("232.600", '{"R":10,"G":20,"B":30}', {"red": 10, "green": 20, "blue": 30}),
    ("19.001",
     '{"Year":2024,"Month":5,"DayOfMonth":17,"DayOfWeek":0,"HourOfDay":12,"Minutes":0,'
     '"Seconds":0}',
     {"year": 2024, "month": 5, "day": 17, "hour": 12, "minutes": 0, "seconds": 0}),
    ("16.000", '"Hello KNX"', "Hello KNX"),
]


def energy_registers():
    registers = [{"ActiveElectricalEnergy": 1000 * i, "Tariff": i} for i in range(11)]
    return json.dumps(
        {"Year": 2024, "Month": 5, "DayOfMonth": 17, "DayOfWeek": 5, "HourOfDay": 12,
         "Minutes": 0, "Seconds": 0, "Text": "meter one", "EnergyRegisters": registers},
        separators=(",", ":"),
    )


# Rows ordered by payload size, from the 1-bit row to the 86-octet one, for the cost growth.
GROWTH = [
    ("1.001", "true"),
    ("5.001", "75"),
    ("9.001", "21.5"),
    ("232.600", '{"R":10,"G":20,"B":30}'),
    ("12.001", "123456"),
    ("235.001", '{"ActiveElectricalEnergy":123456,"Tariff":3}'),
    ("19.001", SHARED[7][1]),
    ("16.000", '"Hello KNX"'),
    ("28.001", json.dumps("x" * 60)),
    ("284.1200", energy_registers()),
]
