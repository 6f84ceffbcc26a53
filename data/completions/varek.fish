# fish completion for varek
set -l commands query run bench signal
complete -c varek -f
complete -c varek -n "not __fish_seen_subcommand_from $commands" -a query -d 'eine Suche, gibt die Zeilen aus'
complete -c varek -n "not __fish_seen_subcommand_from $commands" -a run -d 'sucht und führt eine Zeile aus'
complete -c varek -n "not __fish_seen_subcommand_from $commands" -a bench -d '260 gemessene Suchen'
complete -c varek -n "not __fish_seen_subcommand_from $commands" -a signal -d 'ein Steuersignal an den Starter'
complete -c varek -n "not __fish_seen_subcommand_from $commands" -l version -d 'Version'
complete -c varek -l help -s h -d 'Hilfe'
complete -c varek -n "__fish_seen_subcommand_from query run" -l mode -x -a 'all files clipboard windows' -d 'Modus'
complete -c varek -n "__fish_seen_subcommand_from query" -l json -d 'JSON-Ausgabe'
complete -c varek -n "__fish_seen_subcommand_from run" -l row -x -d 'Zeile'
complete -c varek -n "__fish_seen_subcommand_from run" -l action -x -a 'open reveal copy' -d 'Aktion'
complete -c varek -n "__fish_seen_subcommand_from run" -l confirm -d 'auch Zeilen mit Rückfrage'
complete -c varek -n "__fish_seen_subcommand_from signal" -a 'toggle show hide query mode down enter bench'
