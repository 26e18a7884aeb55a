;;; emms_session.el --- EMMS plays a playlist through wendrop, in batch.
;;
;; emacs --batch -Q -L EMMS-DIR -l emms_session.el LOG MODE TRACK...
;;
;; EMMS's stock remote backend starts the program named by $WENDROP as it
;; would start mpg321, with the one parameter the README asks for,
;; --mpeg-frames; nothing else of it is configured but that its regex and
;; playable check take .flac files. Then, by MODE:
;;
;; play: each track that EMMS sees start and finish is noted in LOG
;;   ("started NAME", "finished NAME").
;; seek: two seconds into the first track EMMS seeks 10 s forward, and a
;;   little later 10 s back, with its own seek command; LOG notes how far
;;   each seek moved the position ("forward 9.14", "back -9.14"), against
;;   where playback would have been without it.
;;
;; At the end the player is sent QUIT and its end is noted ("exit STATUS
;; CODE").

;; EMMS's own minimal setup, as its manual gives it, with the autoloads
;; that a site installation provides.
(require 'emms-auto)
(require 'emms-setup)
(emms-minimalistic)
(require 'emms-player-mpg321-remote)

(defvar session-log (pop command-line-args-left))
(defvar session-mode (pop command-line-args-left))
(defvar session-tracks command-line-args-left)
(setq command-line-args-left nil)
(defvar session-finished 0)
(defconst session-seconds 20 "How long the playlist may take.")

(setq emms-player-mpg321-remote-command (getenv "WENDROP"))
(setq emms-player-mpg321-remote-parameters '("--mpeg-frames"))
(emms-player-set emms-player-mpg321-remote 'regex "\\.flac\\'")
(emms-player-set emms-player-mpg321-remote 'playablep
		 (lambda (track)
		   (and (eq (emms-track-type track) 'file)
			(string-match "\\.flac\\'" (emms-track-name track)))))
(setq emms-player-list '(emms-player-mpg321-remote))

(defun session-note (text)
  (write-region (concat text "\n") nil session-log t 'silent))

(defun session-note-track (event)
  (let ((track (emms-playlist-current-selected-track)))
    (session-note (format "%s %s" event (file-name-nondirectory (emms-track-name track))))))

(add-hook 'emms-player-started-hook (lambda () (session-note-track "started")))
(add-hook 'emms-player-finished-hook
	  (lambda ()
	    (session-note-track "finished")
	    (setq session-finished (1+ session-finished))))

;; The position of every "@F" line the backend reads, exactly, and when.
(defvar session-position nil "Seconds played, from the last @F line.")
(defvar session-position-time nil "When that line came.")
(advice-add 'emms-player-mpg321-remote-filter :before
	    (lambda (_proc str)
	      (dolist (line (split-string str "\n" t))
		(let ((data (split-string line)))
		  (when (and (equal (car data) "@F") (nth 3 data))
		    (setq session-position (string-to-number (nth 3 data))
			  session-position-time (float-time)))))))

(defun session-wait (done seconds)
  "Takes in the player's output until DONE gives non-nil or SECONDS pass."
  (let ((deadline (+ (float-time) seconds)))
    (while (and (not (funcall done)) (< (float-time) deadline))
      (accept-process-output nil 0.05))))

(defun session-seek (name seconds)
  "Seeks by SECONDS with EMMS's command; notes how far the position moved
against where playback, which runs in real time, would be without it."
  (let* ((before session-position)
	 (before-time session-position-time)
	 (moved (lambda () (- session-position (+ before (- session-position-time before-time))))))
    (emms-seek seconds)
    ;; A line already on its way shows no move: wait for one that does.
    (session-wait (lambda () (> (abs (funcall moved)) 2)) 5)
    (session-note (format "%s %.2f" name (funcall moved)))))

(dolist (track session-tracks)
  (emms-add-file track))
(emms-start)
(if (equal session-mode "seek")
    (progn
      (session-wait (lambda () (and session-position (> session-position 2))) session-seconds)
      (session-seek "forward" 10)
      (session-wait (lambda () nil) 1.5)
      (session-seek "back" -10))
  (session-wait (lambda () (>= session-finished (length session-tracks))) session-seconds))

(let ((player (emms-player-mpg321-remote-process)))
  (if (not player)
      (session-note "no player")
    (process-send-string player "QUIT\n")
    (session-wait (lambda () (not (process-live-p player))) 5)
    (session-note (format "exit %s %s" (process-status player) (process-exit-status player)))))
(kill-emacs 0)
