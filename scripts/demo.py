"""A short tour of tavrel on built-in defaults."""

import _tavrel


def main() -> None:
    print("Group address 1/2/3 ->", _tavrel.group_address_to_raw("1/2/3"))
    print("Raw 2563 ->", _tavrel.group_address_from_raw(2563))
    print("Individual address 01.1.+5 ->", _tavrel.parse_individual_address("01.1.+5"))
    try:
        _tavrel.parse_group_address("1/2")
    except ValueError as error:
        print("1/2 is refused:", error)


if __name__ == "__main__":
    main()
